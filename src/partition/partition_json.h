// Internal to src/partition: the JSON form of the records of partition.h.
#pragma once
#include "format/json.h"
#include "partition/partition.h"

json_value bpb_json(const bpb_record& record);
