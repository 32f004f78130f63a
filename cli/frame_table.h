// The frame table of velkor-split --info, as JSON. The field names are
// stable; docs/frame-table.schema.json describes them.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "engine/gif24bit.h"

// The table of the file the engine last broke out (or tried to): the logical
// screen, the loop count, the comments, every frame read before any failure,
// and the failure, if there was one.
nlohmann::ordered_json FrameTable(const clsGif24bit& engine, const std::string& file,
                                  std::int64_t fileSize, bool split);
