// Our own declaration of the vendor library's calls beyond the five that the
// program makes, and of their values, as FTD2XX's public programmer's guide
// describes them. The vendor-library driver needs them to keep the promises
// of ftd2xx.h (no flow control, a write deadline, a draining close); the
// stand-in library exports them so that the driver can be tested.
#ifndef LINE_TRANSMITTER_D2XX_FURTHER_CALLS_H
#define LINE_TRANSMITTER_D2XX_FURTHER_CALLS_H

#include <stdint.h>

#include "ftd2xx.h"

// FT_SetFlowControl's usFlowControl; uXon and uXoff matter only with XON/XOFF.
enum : uint16_t {
    FT_FLOW_NONE = 0x0000,
    FT_FLOW_RTS_CTS = 0x0100,
    FT_FLOW_DTR_DSR = 0x0200,
    FT_FLOW_XON_XOFF = 0x0400
};

// FT_Purge's dwMask.
enum : uint32_t { FT_PURGE_RX = 1, FT_PURGE_TX = 2 };

// FT_GetModemStatus: the modem status is the lowest byte, the line status
// the next one; in the line status, as the chips report it, the transmitter
// (its FIFO and its shift register) is empty.
enum : uint32_t { FT_LINE_STATUS_SHIFT = 8, FT_LINE_STATUS_TRANSMITTER_EMPTY = 0x40 };

#ifdef __cplusplus
extern "C" {
#endif

FT_STATUS FT_API FT_SetFlowControl(FT_HANDLE handle, uint16_t flowControl, uint8_t xon,
                                   uint8_t xoff);

// In milliseconds; a write that has not finished within writeTimeout
// returns with what it took.
FT_STATUS FT_API FT_SetTimeouts(FT_HANDLE handle, uint32_t readTimeout, uint32_t writeTimeout);

// The bytes waiting in the driver's receive and transmit queues, and its
// pending events.
FT_STATUS FT_API FT_GetStatus(FT_HANDLE handle, uint32_t* amountInRxQueue,
                              uint32_t* amountInTxQueue, uint32_t* eventStatus);

FT_STATUS FT_API FT_GetModemStatus(FT_HANDLE handle, uint32_t* modemStatus);

// Discards what the driver's queues named by mask still hold.
FT_STATUS FT_API FT_Purge(FT_HANDLE handle, uint32_t mask);

#ifdef __cplusplus
}
#endif

#endif
