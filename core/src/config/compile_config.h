#pragma once
// The configuration of one compilation: how to read the source and which
// diagnostics to keep. Read-only for the whole call.
#include "quendal/compile.h"
