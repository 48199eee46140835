#include "link/LinkState.h"

int BaudRateOf(int baudIndex) {
    switch (baudIndex) {
        case 0:
            return 4800;
        case 2:
            return 19200;
        default:
            return 9600;
    }
}

int BaudIndexOf(int baud) {
    switch (baud) {
        case 4800:
            return 0;
        case 9600:
            return 1;
        case 19200:
            return 2;
        default:
            return -1;
    }
}
