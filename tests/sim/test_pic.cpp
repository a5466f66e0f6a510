#include "sim_test_util.h"
#include <gtest/gtest.h>
