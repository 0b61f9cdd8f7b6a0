/* Types shared by the two units of the layout test program. */
#include <stdint.h>

struct opaque; /* defined only in layouts_other.c */
typedef struct opaque opaque_t;

typedef unsigned char byte_t;
typedef byte_t octet_t; /* a chain of typedefs */

struct bits {
  uint32_t low : 3;
  uint32_t mid : 9;
  uint8_t tail;
  uint32_t high : 20;
};

struct node {
  struct node* next;
  struct node* prev;
  const char* name;
};

union value {
  uint8_t b;
  uint16_t h;
  uint64_t w;
  struct node* n;
};

enum colour { RED, GREEN = 300, BLUE };

struct outer {
  octet_t tag;
  union {
    uint32_t word;
    struct {
      uint16_t lo;
      uint16_t hi;
    };
  };
  struct bits flags;
  union value values[3];
  int16_t grid[2][5];
  enum colour colour;
  void (*handler)(int);
  volatile const uint64_t stamp;
  struct node list;
  opaque_t* hidden;
  struct flex* trailing;
};

struct flex {
  uint16_t count;
  uint32_t items[];
};

typedef struct outer outer_t;

extern outer_t layout_outer;
extern struct flex layout_flex;
extern const uint32_t layout_table[];
extern struct opaque layout_opaque;
unsigned layout_opaque_size(void);
