// Our declaration of the published ASIO 2 driver interface (IASIO), its types, callbacks,
// selectors, sample types and flags. It is binary-compatible with hosts on Windows: the
// structures use the published 4-byte packing, every `long` of the interface is a 32-bit
// LONG, and on x86 the operations use the C++ member calling convention (thiscall), which
// is MinGW-w64's default for member functions, as it is the Microsoft compiler's.
#pragma once

#include "platform/win32.h"

typedef LONG ASIOBool;
typedef LONG ASIOError;
typedef LONG ASIOSampleType;
typedef double ASIOSampleRate;

enum : LONG { ASIOFalse = 0, ASIOTrue = 1 };

// Result codes.
enum : LONG {
  ASE_OK = 0,
  ASE_SUCCESS = 0x3f4847a0,
  ASE_NotPresent = -1000,
  ASE_HWMalfunction = -999,
  ASE_InvalidParameter = -998,
  ASE_InvalidMode = -997,
  ASE_SPNotAdvancing = -996,
  ASE_NoClock = -995,
  ASE_NoMemory = -994,
};

// Sample types the driver reports (little-endian PCM and one-bit DSD).
enum : LONG {
  ASIOSTInt16LSB = 16,
  ASIOSTInt24LSB = 17,
  ASIOSTInt32LSB = 18,
  ASIOSTFloat32LSB = 19,
  ASIOSTFloat64LSB = 20,
  ASIOSTDSDInt8LSB1 = 32,
  ASIOSTDSDInt8MSB1 = 33,
  ASIOSTDSDInt8NER8 = 40,
};

// asioMessage selectors.
enum : LONG {
  kAsioSelectorSupported = 1,
  kAsioEngineVersion = 2,
  kAsioResetRequest = 3,
  kAsioBufferSizeChange = 4,
  kAsioResyncRequest = 5,
  kAsioLatenciesChanged = 6,
  kAsioSupportsTimeInfo = 7,
  kAsioSupportsTimeCode = 8,
};

// future() selectors.
enum : LONG {
  kAsioEnableTimeCodeRead = 1,
  kAsioDisableTimeCodeRead = 2,
  kAsioSetInputMonitor = 3,
  kAsioTransport = 4,
  kAsioSetInputGain = 5,
  kAsioGetInputMeter = 6,
  kAsioSetOutputGain = 7,
  kAsioGetOutputMeter = 8,
  kAsioCanInputMonitor = 9,
  kAsioCanTimeInfo = 10,
  kAsioCanTimeCode = 11,
  kAsioCanTransport = 12,
  kAsioCanInputGain = 13,
  kAsioCanInputMeter = 14,
  kAsioCanOutputGain = 15,
  kAsioCanOutputMeter = 16,
  kAsioOptionalOne = 17,
  kAsioSetIoFormat = 0x23111961,
  kAsioGetIoFormat = 0x23111983,
  kAsioCanDoIoFormat = 0x23112004,
};

// I/O formats of kAsioSetIoFormat / kAsioGetIoFormat.
enum : LONG { kASIOFormatInvalid = -1, kASIOPCMFormat = 0, kASIODSDFormat = 1 };

// Time info flags.
enum : ULONG {
  kSystemTimeValid = 1,
  kSamplePositionValid = 2,
  kSampleRateValid = 4,
  kSpeedValid = 8,
  kSampleRateChanged = 16,
  kClockSourceChanged = 32,
};

#pragma pack(push, 4)

struct ASIOSamples {
  ULONG hi;
  ULONG lo;
};

struct ASIOTimeStamp {
  ULONG hi;
  ULONG lo;
};

struct ASIOClockSource {
  LONG index;
  LONG associatedChannel;
  LONG associatedGroup;
  ASIOBool isCurrentSource;
  char name[32];
};

struct ASIOChannelInfo {
  LONG channel;
  ASIOBool isInput;
  ASIOBool isActive;
  LONG channelGroup;
  ASIOSampleType type;
  char name[32];
};

struct ASIOBufferInfo {
  ASIOBool isInput;
  LONG channelNum;
  void* buffers[2];
};

struct AsioTimeInfo {
  double speed;
  ASIOTimeStamp systemTime;
  ASIOSamples samplePosition;
  ASIOSampleRate sampleRate;
  ULONG flags;
  char reserved[12];
};

struct ASIOTimeCode {
  double speed;
  ASIOSamples timeCodeSamples;
  ULONG flags;
  char future[64];
};

struct ASIOTime {
  LONG reserved[4];
  AsioTimeInfo timeInfo;
  ASIOTimeCode timeCode;
};

struct ASIOCallbacks {
  void (*bufferSwitch)(LONG doubleBufferIndex, ASIOBool directProcess);
  void (*sampleRateDidChange)(ASIOSampleRate sRate);
  LONG (*asioMessage)(LONG selector, LONG value, void* message, double* opt);
  ASIOTime* (*bufferSwitchTimeInfo)(ASIOTime* params, LONG doubleBufferIndex, ASIOBool directProcess);
};

struct ASIOIoFormat {
  LONG FormatType;
  char future[512 - sizeof(LONG)];
};

#pragma pack(pop)

// The layout hosts rely on, checked wherever this header is compiled (x86 included,
// whose test programs cannot always run).
static_assert(sizeof(ASIOClockSource) == 48, "ASIOClockSource layout");
static_assert(sizeof(ASIOChannelInfo) == 52, "ASIOChannelInfo layout");
static_assert(sizeof(ASIOBufferInfo) == 8 + 2 * sizeof(void*), "ASIOBufferInfo layout");
static_assert(sizeof(AsioTimeInfo) == 48, "AsioTimeInfo layout");
static_assert(sizeof(ASIOTimeCode) == 84, "ASIOTimeCode layout");
static_assert(sizeof(ASIOTime) == 148, "ASIOTime layout");
static_assert(sizeof(ASIOIoFormat) == 512, "ASIOIoFormat layout");

// The driver interface, after IUnknown's three slots, in slot order.
struct IASIO : public IUnknown {
  virtual ASIOBool init(void* sysHandle) = 0;
  virtual void getDriverName(char* name) = 0;
  virtual LONG getDriverVersion() = 0;
  virtual void getErrorMessage(char* string) = 0;
  virtual ASIOError start() = 0;
  virtual ASIOError stop() = 0;
  virtual ASIOError getChannels(LONG* numInputChannels, LONG* numOutputChannels) = 0;
  virtual ASIOError getLatencies(LONG* inputLatency, LONG* outputLatency) = 0;
  virtual ASIOError getBufferSize(LONG* minSize, LONG* maxSize, LONG* preferredSize, LONG* granularity) = 0;
  virtual ASIOError canSampleRate(ASIOSampleRate sampleRate) = 0;
  virtual ASIOError getSampleRate(ASIOSampleRate* sampleRate) = 0;
  virtual ASIOError setSampleRate(ASIOSampleRate sampleRate) = 0;
  virtual ASIOError getClockSources(ASIOClockSource* clocks, LONG* numSources) = 0;
  virtual ASIOError setClockSource(LONG reference) = 0;
  virtual ASIOError getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) = 0;
  virtual ASIOError getChannelInfo(ASIOChannelInfo* info) = 0;
  virtual ASIOError createBuffers(ASIOBufferInfo* bufferInfos, LONG numChannels, LONG bufferSize,
                                  ASIOCallbacks* callbacks) = 0;
  virtual ASIOError disposeBuffers() = 0;
  virtual ASIOError controlPanel() = 0;
  virtual ASIOError future(LONG selector, void* opt) = 0;
  virtual ASIOError outputReady() = 0;
};
