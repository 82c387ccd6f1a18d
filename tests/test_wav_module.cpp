#include <gtest/gtest.h>

#include "test_support.h"
#include "wav.h"
