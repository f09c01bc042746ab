// Placeholder until implemented.
#include "engine/app_state.h"
