#pragma once
#include "core/Clock.h"
#include "ui/MainComponent.h"
