// How fast a serial line set with ftd2xx.h's values carries characters,
// for the drivers' deadlines: one figure for every driver.
#ifndef LINE_TRANSMITTER_LINE_RATE_H
#define LINE_TRANSMITTER_LINE_RATE_H

#include <stdint.h>

#include "ftd2xx.h"

// The bits one character takes: a start bit, the data bits, a parity bit
// unless there is none, the stop bits.
inline uint32_t bitsPerCharacter(uint8_t wordLength, uint8_t stopBits, uint8_t parity)
{
    return 1u + wordLength + (parity != FT_PARITY_NONE ? 1u : 0u) +
           (stopBits == FT_STOP_BITS_2 ? 2u : 1u);
}

// Characters a second, at least 1.
inline uint32_t charactersPerSecond(uint32_t baudRate, uint32_t bitsEach)
{
    uint32_t perSecond = baudRate / bitsEach;
    return perSecond > 0 ? perSecond : 1;
}

#endif
