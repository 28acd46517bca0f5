#include "converter_failure.h"

#include <stdarg.h>
#include <stdio.h>

const char kDrainCutShort[] = "the drain was cut short";

namespace {
char detail[512];
char advice[512];
}  // namespace

void clearFailure()
{
    detail[0] = advice[0] = '\0';
}

FT_STATUS failed(FT_STATUS status, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(detail, sizeof detail, format, arguments);
    va_end(arguments);
    advice[0] = '\0';
    return status;
}

void advise(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(advice, sizeof advice, format, arguments);
    va_end(arguments);
}

ConverterFailure lastConverterFailure()
{
    return ConverterFailure{detail, advice};
}
