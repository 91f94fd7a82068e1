// The form is Norvane.ui; uic makes ui_Norvane.h of it when a source of this library includes
// it, as this one does.
#include "ui_Norvane.h"
