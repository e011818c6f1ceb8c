// Audio messages from the peer: any records, in any number, go through reception without reading outside
// them. The input is cut into records of [length byte][bytes].
#include <cstddef>
#include <cstdint>

#include "audio/AudioService.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static CAudioService* service = new CAudioService;  // playback closed: flushed sound goes nowhere
    service->CChannel::Reset();
    size_t pos = 0;
    while (pos < size && service->FreeReceiveSlots() > 0) {
        const size_t length = data[pos++];
        const size_t n = length < size - pos ? length : size - pos;
        service->PushReceived(0, data + pos, n);
        pos += n;
    }
    while (service->ReceivedCount() > 0) {
        const int before = service->ReceivedCount();
        service->Receive();
        if (service->ReceivedCount() >= before)
            __builtin_trap();  // every call takes at least one record
    }
    return 0;
}
