#include "link/SerialPort.h"

const char* CSerialPort::ReasonText(OpenError error) {
    switch (error) {
        case OpenError::None:
            return "";
        case OpenError::NoSuchFile:
            return "no such file";
        case OpenError::NotSerial:
            return "not a serial device";
        case OpenError::InUse:
            return "in use by another program";
        case OpenError::PermissionDenied:
#if defined(_WIN32)
            return "permission denied";
#else
            // On Debian serial ports belong to the dialout group.
            return "permission denied: run 'sudo usermod -aG dialout $USER' and log in again";
#endif
        case OpenError::Other:
            break;
    }
    return nullptr;
}
