// A file of the engine layer that includes a window header: the layers check must refuse it.
#pragma once

#include "gui/MainWindow.h"
