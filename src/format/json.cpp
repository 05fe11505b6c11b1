// The JSON document writer and the text of devices and media in it.
#include "format/json.h"

#include <charconv>

#include "format/cp932.h"
#include "format/output.h"

namespace {

constexpr int INDENT = 2;

void write_indent(size_t depth)
{
    static const char spaces[] = "                                ";
    for (size_t left = depth * INDENT; left != 0;) {
        size_t part = left < sizeof spaces - 1 ? left : sizeof spaces - 1;
        out_puts(spaces + (sizeof spaces - 1 - part));
        left -= part;
    }
}

// A key as JSON text. The keys are the program's own snake_case names, which
// need no escape; any other text goes through the library.
void write_key(const char* key)
{
    bool plain = true;
    for (const char* c = key; *c != 0 && plain; c++)
        plain = (*c >= 'a' && *c <= 'z') || (*c >= '0' && *c <= '9') || *c == '_';
    if (!plain) {
        out_puts(json_value(key).dump().c_str());
        return;
    }
    out_putc('"');
    out_puts(key);
    out_putc('"');
}

// Numbers, booleans, null and plain strings as the library writes them,
// without a serializer of their own: most members of a long partition list
// are these. false for any other value.
bool write_scalar(const json_value& value)
{
    char text[24];
    std::to_chars_result end{};
    switch (value.type()) {
    case json_value::value_t::null:
        out_puts("null");
        return true;
    case json_value::value_t::boolean:
        out_puts(value.get<bool>() ? "true" : "false");
        return true;
    case json_value::value_t::number_unsigned:
        end = std::to_chars(text, text + sizeof text - 1, value.get<uint64_t>());
        break;
    case json_value::value_t::number_integer:
        end = std::to_chars(text, text + sizeof text - 1, value.get<int64_t>());
        break;
    case json_value::value_t::string: {
        // Printable ASCII without a quote or a backslash stands as it is.
        const std::string& string = value.get_ref<const std::string&>();
        for (char c : string)
            if (c < 0x20 || c > 0x7E || c == '"' || c == '\\')
                return false;
        out_putc('"');
        out_puts(string.c_str());
        out_putc('"');
        return true;
    }
    default:
        return false;
    }
    *end.ptr = 0;
    out_puts(text);
    return true;
}

// The separator, the indentation and the key before a value in the open
// container (none at the top).
void begin_value(json_writer* writer, const char* key)
{
    if (writer->open.empty())
        return;
    json_writer::frame& frame = writer->open.back();
    out_puts(frame.count == 0 ? "\n" : ",\n");
    frame.count++;
    write_indent(writer->open.size());
    if (!frame.array) {
        write_key(key ? key : "");
        out_puts(": ");
    }
}

// The library escapes the C0 controls; DEL and the C1 controls (U+0080 to
// U+009F, which a terminal may obey) are escaped here too, so that the
// document cannot steer a terminal either. They stand only inside strings,
// where an escape means the same character.
std::string escape_terminal_controls(const std::string& text)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); i++) {
        auto c = static_cast<unsigned char>(text[i]);
        unsigned code = 0;
        if (c == 0x7F)
            code = 0x7F;
        else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9F)
            code = static_cast<unsigned char>(text[++i]);
        if (code == 0) {
            out += char(c);
            continue;
        }
        out += "\\u00";
        out += digits[code >> 4];
        out += digits[code & 0x0F];
    }
    return out;
}

// The value's text at the current depth: its own line ends are followed by
// the indentation of the container it sits in. Text that is not UTF-8
// cannot reach here (decode_device_text makes UTF-8 of every byte), and
// would be replaced rather than thrown.
void write_value(const json_writer* writer, const json_value& value)
{
    if (write_scalar(value))
        return;
    std::string text =
        escape_terminal_controls(value.dump(INDENT, ' ', false, json_value::error_handler_t::replace));
    std::string indent(writer->open.size() * INDENT, ' ');
    size_t from = 0;
    for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', from)) {
        out_puts(text.substr(from, end + 1 - from).c_str());
        out_puts(indent.c_str());
        from = end + 1;
    }
    out_puts(text.c_str() + from);
}

void open_container(json_writer* writer, const char* key, bool array)
{
    begin_value(writer, key);
    out_putc(array ? '[' : '{');
    writer->open.push_back({array, 0});
}

} // namespace

void json_open_object(json_writer* writer, const char* key) { open_container(writer, key, false); }

void json_open_array(json_writer* writer, const char* key) { open_container(writer, key, true); }

void json_close(json_writer* writer)
{
    if (writer->open.empty())
        return;
    json_writer::frame frame = writer->open.back();
    writer->open.pop_back();
    if (frame.count != 0) {
        out_putc('\n');
        write_indent(writer->open.size());
    }
    out_putc(frame.array ? ']' : '}');
    if (writer->open.empty())
        out_putc('\n');
}

void json_put(json_writer* writer, const char* key, const json_value& value)
{
    begin_value(writer, key);
    write_value(writer, value);
    if (writer->open.empty())
        out_putc('\n');
}

void json_put_members(json_writer* writer, const json_value& object)
{
    for (auto member = object.begin(); member != object.end(); ++member)
        json_put(writer, member.key().c_str(), member.value());
}

std::string hex_text(const uint8_t* bytes, size_t length)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(length * 2);
    for (size_t i = 0; i < length; i++) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

static void append_latin1(const uint8_t* bytes, size_t length, std::string* out)
{
    for (size_t i = 0; i < length; i++) {
        uint8_t b = bytes[i];
        if (b < 0x80) {
            *out += char(b);
        } else {
            *out += char(0xC0 | (b >> 6));
            *out += char(0x80 | (b & 0x3F));
        }
    }
}

std::string decode_device_text(const uint8_t* bytes, size_t length)
{
    size_t end = 0;
    while (end < length && bytes[end] != 0)
        end++;
    size_t begin = 0;
    while (begin < end && bytes[begin] == ' ')
        begin++;
    while (end > begin && bytes[end - 1] == ' ')
        end--;
    const uint8_t* text = bytes + begin;
    size_t size = end - begin;
    bool plain = true;
    for (size_t i = 0; i < size && plain; i++)
        plain = text[i] < 0x80;
    std::string out;
    if (plain)
        out.assign(reinterpret_cast<const char*>(text), size);
    else if (append_cp932_as_utf8(text, size, &out) != 0)
        append_latin1(text, size, &out);
    return out;
}

void put_device_text(json_value* object, const std::string& key, const uint8_t* bytes, size_t length)
{
    (*object)[key] = decode_device_text(bytes, length);
    (*object)[key + "_hex"] = hex_text(bytes, length);
}

// True when text is well-formed UTF-8: the library's writer drops what is
// not, or replaces it, and the two renderings then differ.
static bool is_utf8(const std::string& text)
{
    json_value value(text);
    return value.dump(-1, ' ', false, json_value::error_handler_t::ignore) ==
           value.dump(-1, ' ', false, json_value::error_handler_t::replace);
}

std::string utf8_or_latin1(const std::string& text)
{
    if (is_utf8(text))
        return text;
    std::string out;
    append_latin1(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &out);
    return out;
}
