/* The layout test program's first unit: variables of every kind of type,
   an array declared without a bound and defined with one, and statics. */
#include "layouts.h"

outer_t layout_outer = {.tag = 7, .list = {0, 0, "outer"}};
const uint32_t layout_table[6] = {1, 2, 3, 4, 5, 6};
static uint16_t layout_static = 0x1234;
uint32_t layout_zeroed[4];
union value layout_value = {.w = 0x1122334455667788ull};
char layout_char = 'x';
signed char layout_schar = -3;
short layout_short = -2;
long long layout_long_long = -5;

uint32_t layout_use(void) {
  layout_static += 1;
  return layout_static + layout_table[1] + (uint32_t)layout_opaque_size();
}

void layout_start(void) {
  for (;;) layout_use();
}
