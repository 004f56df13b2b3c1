// The unit Ovfpat: its public interface. (Filled in by the unit's implementation.)
#pragma once

namespace ovelta {}  // namespace ovelta
