/* The layout test program's second unit: the definition of a struct that
   the first unit only declares, and a flexible array variable. */
#include "layouts.h"

struct opaque {
  uint32_t secret;
  struct node inner[2];
};

struct opaque layout_opaque = {42, {{0, 0, 0}, {0, 0, 0}}};
struct flex layout_flex = {3};
static uint8_t layout_other_static = 9;

unsigned layout_opaque_size(void) {
  layout_other_static += 2;
  return sizeof(struct opaque) + layout_other_static;
}
