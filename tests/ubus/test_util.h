// Helpers shared by the bus tests: hex texts, a self-freeing blob buffer and
// the captured messages.
#ifndef UBUS_TEST_UTIL_H
#define UBUS_TEST_UTIL_H

#include <libubox/blobmsg.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ubustest {

using Bytes = std::vector<uint8_t>;

// "00 05 0a" -> bytes; anything but hex digits is ignored.
Bytes hex(const std::string &text);
std::string to_hex(const Bytes &b);

struct Buf {
	struct blob_buf b = {};
	Buf() { blob_buf_init(&b, 0); }
	~Buf() { blob_buf_free(&b); }
	Bytes payload() const
	{
		const auto *p = static_cast<const uint8_t *>(blob_data(b.head));
		return Bytes(p, p + blob_len(b.head));
	}
};

// A captured exchange: a listener (object 91ac7294) registers "test.event"
// and "net.*"; a sender sends "test.event" {"a":1,"s":"hi"}, which reaches
// the listener as the bus's first delivery and is answered.
inline const std::string kRegister = "00 05 00 02 00 00 00 01 00 00 00 50 03 00 00 08 00 00 00 01"
				     "04 00 00 0d 72 65 67 69 73 74 65 72 00 00 00 00 07 00 00 34"
				     "85 00 00 14 00 06 6f 62 6a 65 63 74 00 00 00 00 91 ac 72 94"
				     "83 00 00 1b 00 07 70 61 74 74 65 72 6e 00 00 00 74 65 73 74 2e 65 76 65 6e 74 00 00";
inline const std::string kRegister2 = "00 05 00 03 00 00 00 01 00 00 00 4c 03 00 00 08 00 00 00 01"
				      "04 00 00 0d 72 65 67 69 73 74 65 72 00 00 00 00 07 00 00 30"
				      "85 00 00 14 00 06 6f 62 6a 65 63 74 00 00 00 00 91 ac 72 94"
				      "83 00 00 16 00 07 70 61 74 74 65 72 6e 00 00 00 6e 65 74 2e 2a 00 00 00";
inline const std::string kSend = "00 05 00 01 00 00 00 01 00 00 00 58 03 00 00 08 00 00 00 01"
				 "04 00 00 09 73 65 6e 64 00 00 00 00 07 00 00 40"
				 "83 00 00 17 00 02 69 64 00 00 00 00 74 65 73 74 2e 65 76 65 6e 74 00 00"
				 "82 00 00 24 00 04 64 61 74 61 00 00"
				 "85 00 00 0c 00 01 61 00 00 00 00 01 83 00 00 0b 00 01 73 00 68 69 00 00";
inline const std::string kDelivery = "00 05 00 01 00 00 00 00 00 00 00 38 03 00 00 08 91 ac 72 94"
				     "04 00 00 0f 74 65 73 74 2e 65 76 65 6e 74 00 00 07 00 00 1c"
				     "85 00 00 0c 00 01 61 00 00 00 00 01 83 00 00 0b 00 01 73 00 68 69 00 00";
// A STATUS 0 after its first four bytes (version, type, seq).
inline const std::string kOk = " 00 00 00 01 00 00 00 0c 01 00 00 08 00 00 00 00";
inline const std::string kDeliveryAnswer =
	"00 01 00 01 00 00 00 00 00 00 00 14 01 00 00 08 00 00 00 00 03 00 00 08 91 ac 72 94";

} // namespace ubustest

#endif
