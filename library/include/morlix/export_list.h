/* The 19 functions of morlix.h as one list, for code that must name each of
 * them: the program's binding, the check that the binding's signatures are
 * the declared ones, the library's version script and the exported-interface
 * test.
 *
 * MORLIX_EXPORT_LIST(X) calls X(name, result, missing, parameters, arguments)
 * once per function, in the order of morlix.h: `missing` is what the
 * program's binding returns when the function cannot be found (its failure
 * result, or "nothing to do" for a close). */
#ifndef MORLIX_EXPORT_LIST_H
#define MORLIX_EXPORT_LIST_H

#define MORLIX_EXPORT_LIST(X)                                                                            \
    X(qkSoftFontFileName, int32_t, 1, (const char* softFontPath), (softFontPath))                        \
    X(GetPrinterHandleVB, int32_t, 1, (int32_t * handle), (handle))                                      \
    X(ClosePrinterHandleVB, int32_t, 0, (int32_t handle), (handle))                                      \
    X(SetPortsToFile, int32_t, 1, (void), ())                                                            \
    X(RestorePortsToOriginal, int32_t, 0, (void), ())                                                    \
    X(GetPrinterDetailVB, int32_t, 0,                                                                    \
      (int32_t * portType, int32_t * logicBoardType, int32_t * printerType, int32_t * printerModel),     \
      (portType, logicBoardType, printerType, printerModel))                                             \
    X(GetFlashSpaceRemainingVB, int32_t, 0, (int32_t * freeFlashBytes), (freeFlashBytes))                \
    X(WritePrinterVB, int32_t, 1, (int32_t handle, const uint8_t* data, uint32_t byteCount),             \
      (handle, data, byteCount))                                                                         \
    X(GetPrinterStatusDataVB, int32_t, 1,                                                                \
      (int32_t handle, uint8_t * statusBuffer, int32_t * statusByteCount, uint8_t specificRequest,       \
       const uint8_t* request, uint8_t requestLength),                                                   \
      (handle, statusBuffer, statusByteCount, specificRequest, request, requestLength))                  \
    X(GetPrinterVersionVB, int32_t, 0, (float* version), (version))                                      \
    X(CreateEthernetSocketVB, int32_t, 0,                                                                \
      (int32_t * socket, const char* octet1, const char* octet2, const char* octet3, const char* octet4, \
       const char* port),                                                                                \
      (socket, octet1, octet2, octet3, octet4, port))                                                    \
    X(WriteDataEthernetVB, int32_t, 0,                                                                   \
      (int32_t socket, const uint8_t* data, int32_t length, int32_t* bytesSent),                         \
      (socket, data, length, bytesSent))                                                                 \
    X(ReadDataEthernetVB, int32_t, 0, (int32_t socket, uint8_t * buffer, int32_t * length),              \
      (socket, buffer, length))                                                                          \
    X(CloseEthernetSocketVB, int32_t, 1, (int32_t socket), (socket))                                     \
    X(isPrinterReadyEthernetVB, int32_t, 0, (int32_t socket), (socket))                                  \
    X(CreateSingleInstance, uint8_t, 1, (void), ())                                                      \
    X(IsAnotherInstanceRunning, uint8_t, 0, (void), ())                                                  \
    X(ClearInstanceMutex, uint8_t, 1, (void), ())                                                        \
    X(GetOSDataVB, int32_t, 1,                                                                           \
      (int32_t * majorVersion, int32_t * minorVersion, int32_t * processorArchitecture),                 \
      (majorVersion, minorVersion, processorArchitecture))

#endif /* MORLIX_EXPORT_LIST_H */
