/* The shared headers compile as C too (the platform's libraries are C), and
 * the radio record keeps its layout there: the same size the C++ header
 * asserts for itself. */
#include "capwap_wlan_statis.h"
#include "conf_init.h"
#include "parser_module.h"
#include "rrm_common.h"
#ifdef HAVE_PLATFORM_UTILS
/* The daemon's units include the MAC utilities beside these headers. */
#include "platform_utils.h"
#endif

_Static_assert(sizeof(capwapWlanStatis_t) == 160, "radio record size in C");
_Static_assert(MAX_BUF_LEN == PARSER_REPLY_MAX, "reply buffer");
_Static_assert(MAX_LIST_BUF_LEN == PARSER_LIST_REPLY_MAX, "list reply buffer");
