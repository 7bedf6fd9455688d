/*
 * The one place where pcsc-lite and winscard differ for us: Windows has
 * ANSI and wide variants of the calls that take reader names; we always use
 * the ANSI ones, whatever UNICODE says.
 */
#ifndef PCSC_API_H
#define PCSC_API_H

#ifdef _WIN32
#  include <windows.h>
#  include <winscard.h>
#  define pcsc_ListReaders SCardListReadersA
#  define pcsc_Connect SCardConnectA
#  define pcsc_Status SCardStatusA
#  define pcsc_GetStatusChange SCardGetStatusChangeA
typedef SCARD_READERSTATEA pcsc_ReaderState;
#else
#  include <winscard.h>
#  define pcsc_ListReaders SCardListReaders
#  define pcsc_Connect SCardConnect
#  define pcsc_Status SCardStatus
#  define pcsc_GetStatusChange SCardGetStatusChange
typedef SCARD_READERSTATE pcsc_ReaderState;
#endif

#endif
