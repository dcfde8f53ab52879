// app/ may include any lower layer.
#pragma once
#include "library/ok.h"
