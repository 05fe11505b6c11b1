// The seeds of the partition maps, written by fuzz_seeds.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

using seed_bytes = std::vector<uint8_t>;

// Writes the seeds of the medium and maps targets through write_seed.
void write_map_seeds(int (*write_seed)(const std::string& target, const std::string& name, const seed_bytes& data));
