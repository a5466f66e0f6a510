#include "shell/page.h"
