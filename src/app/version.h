#pragma once

// The program's identity, read by the C++ code, the Windows resource compiler and the
// packaging scripts alike: keep it to plain #defines.
#define KORVAN_PRODUCT_NAME "Korvan"
#define KORVAN_VERSION_RECORD "Korvan v1.0"
#define KORVAN_VERSION_TEXT "1.00"
#define KORVAN_VERSION_NUMBERS 1, 0, 0, 0
#define KORVAN_TEAM "Zespół Korvan"
#define KORVAN_DESKTOP_NAME "korvan"
