// Compiles the form on its own, so that the header stays self-contained.
#include "ui_Norvane.h"
