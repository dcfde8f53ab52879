// A library file that reaches up into app/: the check must refuse it.
#include "app/ok.h"
