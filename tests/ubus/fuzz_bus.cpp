// Fuzz target: byte streams from several clients into the bus daemon's
// message handling. Each chunk is prefixed by one byte: the low two bits
// pick the client, the rest the chunk length. A client the daemon drops is
// replaced by a new one.

#include "bus.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	ubusd::Bus bus([](const std::string &) {}, 1);
	bus.set_owner(1, 1);
	uint32_t ids[4];
	for (int i = 0; i < 4; i++)
		ids[i] = bus.add_client(i == 3 ? 1000 : 0, i == 3 ? 1000 : 0);
	size_t off = 0;
	while (off < size) {
		const uint8_t sel = data[off++];
		const int who = sel & 3;
		size_t n = static_cast<size_t>(sel >> 2) * 4 + 1;
		if (n > size - off)
			n = size - off;
		std::string why;
		if (!bus.receive(ids[who], data + off, n, why)) {
			bus.remove_client(ids[who]);
			ids[who] = bus.add_client(0, 0);
		}
		off += n;
		// The output queues are written away now and then.
		if ((sel & 0x80) != 0)
			for (uint32_t id : bus.clients_with_output()) {
				ubusd::Client *c = bus.client(id);
				c->tx.clear();
				c->tx_bytes = 0;
			}
	}
	bus.remove_client(ids[0]);
	return 0;
}
