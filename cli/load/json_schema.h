// The version of velquin-load's JSON documents: the "schema" field at the
// top of each. It changes when a field is renamed, removed or changes type.
#pragma once

namespace velquin::load {

inline constexpr int JSON_SCHEMA = 1;

}  // namespace velquin::load
