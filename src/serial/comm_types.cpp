#include "serial/comm_types.h"

int BaudrateValue(TVaBaudrate rate) {
    static const int values[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                 14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    const int i = int(rate);
    return (i >= 0 && i < int(sizeof values / sizeof values[0])) ? values[i] : 0;
}

uint32_t CommEventBit(TVaCommEvent event) {
    switch (event) {
    case ceBreak:
        return VaEvBreak;
    case ceCts:
        return VaEvCts;
    case ceDsr:
        return VaEvDsr;
    case ceError:
        return VaEvErr;
    case ceRing:
        return VaEvRing;
    case ceRlsd:
        return VaEvRlsd;
    case ceRxChar:
        return VaEvRxChar;
    case ceTxEmpty:
        return VaEvTxEmpty;
    case ceRxFlag:
        return VaEvRxFlag;
    case cePErr:
        return VaEvPErr;
    case ceRx80Full:
        return VaEvRx80Full;
    case ceEvent1:
        return VaEvEvent1;
    case ceEvent2:
        return VaEvEvent2;
    }
    return 0;
}
