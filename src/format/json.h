// The JSON document of a run, written to the output stream while the run
// goes on: containers are opened and closed around their contents, and each
// small value (a decoded record) is built as a json_value and written in one
// piece. A long list (the partitions of a chain of 100,000 links) therefore
// never sits in memory whole. Keys keep the order in which they were added.
//
// Text from devices and media enters the document through json_text: UTF-8
// decoded from the raw bytes, with the raw bytes beside it in hexadecimal.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

using json_value = nlohmann::ordered_json;

struct json_writer {
    struct frame {
        bool array;
        size_t count; // values written into it so far
    };
    std::vector<frame> open;              // the containers open, outermost first
    std::vector<std::string> diagnostics; // the run's lines on standard error
};

// Containers. key names the member in an enclosing object; it is ignored in
// an array and at the top.
void json_open_object(json_writer* writer, const char* key);
void json_open_array(json_writer* writer, const char* key);
void json_close(json_writer* writer);
// One value, as a member of the open object (key) or an element of the open
// array.
void json_put(json_writer* writer, const char* key, const json_value& value);
// Every member of object, as members of the open object.
void json_put_members(json_writer* writer, const json_value& object);

// Device or medium text: the bytes up to the first zero byte, blanks at
// either end removed, as UTF-8: Shift-JIS (CP932) when every byte from 80h
// up belongs to a valid Shift-JIS character, else ISO-8859-1. Control bytes
// stay as they are (the writer escapes them).
std::string decode_device_text(const uint8_t* bytes, size_t length);
// Sets object[key] to decode_device_text and object[key + "_hex"] to every
// byte of the field in hexadecimal.
void put_device_text(json_value* object, const std::string& key, const uint8_t* bytes, size_t length);
// Upper-case hexadecimal, two digits a byte, nothing between.
std::string hex_text(const uint8_t* bytes, size_t length);
// A text that should already be UTF-8 (a path, a command-line word): as it
// is when it is, else decoded as ISO-8859-1.
std::string utf8_or_latin1(const std::string& text);
