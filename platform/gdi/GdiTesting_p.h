// The graphics layer's test hooks, for checking that callers give back every object they make. Not
// installed: for the library's own tests.
#pragma once

namespace ovelta {

// Graphics objects (bitmaps, palettes, regions) and contexts alive, stock objects not
// counted.
namespace graphics_testing {
int LiveObjects();
int LiveContexts();
}  // namespace graphics_testing

}  // namespace ovelta
