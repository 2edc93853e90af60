#include "app/modrin_application.h"
