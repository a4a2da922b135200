/* The Morlix printer library: the 19 functions the program binds by name.
 *
 * Results are signed 32-bit codes (the single-instance functions return a
 * byte truth value). Texts are NUL-terminated 8-bit strings; buffers belong
 * to the caller, and the library writes at most the sizes stated. A printer
 * handle or socket is a descriptor number of 3 or more; 0 means none.
 *
 * Environment: MORLIX_DEVICE_ROOT, when set, is put before every printer
 * device path (/dev/usb/lpN, /dev/lpN). The few texts the library shows the
 * operator itself (as a message box with an OK button) are written, one line
 * each, to the descriptor MORLIX_OPERATOR_FD names, else to standard error.
 */
#ifndef MORLIX_MORLIX_H
#define MORLIX_MORLIX_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define MORLIX_EXPORT __attribute__((visibility("default")))

/* Converts a PCL bitmap soft font into the printer's format, written beside
 * the input with the extension ".QKS"; returns a conversion result code. */
MORLIX_EXPORT int32_t qkSoftFontFileName(const char* softFontPath);

/* Local printers: 0 found / done, 1 (or 2) failure. */
MORLIX_EXPORT int32_t GetPrinterHandleVB(int32_t* handle);
MORLIX_EXPORT int32_t ClosePrinterHandleVB(int32_t handle);
MORLIX_EXPORT int32_t SetPortsToFile(void);
MORLIX_EXPORT int32_t RestorePortsToOriginal(void);
MORLIX_EXPORT int32_t GetPrinterDetailVB(int32_t* portType, int32_t* logicBoardType, int32_t* printerType,
                                         int32_t* printerModel);
MORLIX_EXPORT int32_t GetFlashSpaceRemainingVB(int32_t* freeFlashBytes);
MORLIX_EXPORT int32_t WritePrinterVB(int32_t handle, const uint8_t* data, uint32_t byteCount);
/* statusBuffer must hold at least 512 bytes. */
MORLIX_EXPORT int32_t GetPrinterStatusDataVB(int32_t handle, uint8_t* statusBuffer, int32_t* statusByteCount,
                                             uint8_t specificRequest, const uint8_t* request,
                                             uint8_t requestLength);
MORLIX_EXPORT int32_t GetPrinterVersionVB(float* version);

/* Network printers: 1 success, 0 failure. A write first drops what the
 * printer sent before it (a late answer to an earlier request is no answer
 * to the next); a read waits at most a second for the printer to answer. */
MORLIX_EXPORT int32_t CreateEthernetSocketVB(int32_t* socket, const char* octet1, const char* octet2,
                                             const char* octet3, const char* octet4, const char* port);
MORLIX_EXPORT int32_t WriteDataEthernetVB(int32_t socket, const uint8_t* data, int32_t length,
                                          int32_t* bytesSent);
MORLIX_EXPORT int32_t ReadDataEthernetVB(int32_t socket, uint8_t* buffer, int32_t* length);
MORLIX_EXPORT int32_t CloseEthernetSocketVB(int32_t socket);
MORLIX_EXPORT int32_t isPrinterReadyEthernetVB(int32_t socket);

/* Single-instance guard and host query. */
MORLIX_EXPORT uint8_t CreateSingleInstance(void);
MORLIX_EXPORT uint8_t IsAnotherInstanceRunning(void);
MORLIX_EXPORT uint8_t ClearInstanceMutex(void);
MORLIX_EXPORT int32_t GetOSDataVB(int32_t* majorVersion, int32_t* minorVersion,
                                  int32_t* processorArchitecture);

#ifdef __cplusplus
}
#endif

#endif /* MORLIX_MORLIX_H */
