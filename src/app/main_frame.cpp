#include "app/main_frame.h"
