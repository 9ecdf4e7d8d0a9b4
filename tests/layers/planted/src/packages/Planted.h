#pragma once

// Planted fault: packages reaches into midi, which it may not.
#include "midi/Planted.h"
