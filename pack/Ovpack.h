// The unit Ovpack, whole: check words (pack/Crc.h), the Corvel codec (pack/Corvel.h), buffer
// compression (pack/CompBuffer.h), pack archives (pack/Pack.h) and the names members are stored
// under (pack/PackNames.h). Programs may include this one header; code that needs one part
// includes that part's header.
#pragma once

#include "pack/CompBuffer.h"
#include "pack/Corvel.h"
#include "pack/Crc.h"
#include "pack/Pack.h"
#include "pack/PackNames.h"
