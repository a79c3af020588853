// The driver object's buffer and transport operations: createBuffers, disposeBuffers,
// start, stop, outputReady, and controlPanel.
#include <cstdio>

#include "asio_driver/asio_sample.h"
#include "common/driver_state.h"
#include "common/registry_names.h"
#include "common/settings_store.h"

namespace t32asio {

ASIOError CAsioSample::createBuffers(ASIOBufferInfo* bufferInfos, LONG numChannels, LONG bufferSize,
                                     ASIOCallbacks* callbacks) {
  m_apActive[0] = m_apCurrent[0];
  m_apActive[1] = m_apCurrent[1];
  LONG numInputs = 0, numOutputs = 0;
  ASIOError result = getChannels(&numInputs, &numOutputs);
  if (result != ASE_OK) return result;
  // The host must give its callbacks, a positive size, and an array for its channels.
  if (!callbacks || (!callbacks->bufferSwitch && !callbacks->bufferSwitchTimeInfo) || bufferSize <= 0 ||
      numChannels < 0 || (numChannels > 0 && !bufferInfos))
    return ASE_InvalidParameter;

  const BOOL bDsd = IsDsdMode();
  const ULONG bits = static_cast<ULONG>(m_nBits);
  bool bWantsInput = false;
  for (LONG i = 0; i < numChannels; ++i) bWantsInput = bWantsInput || bufferInfos[i].isInput != 0;

  result = ASE_OK;
  if (numInputs != 0 && bWantsInput) {
    result = m_apActive[1] ? SetUpDirection(m_apActive[1], TRUE, bufferInfos, numChannels, bufferSize, bits, bDsd)
                           : ASE_InvalidParameter;
  }
  if (result == ASE_OK && numOutputs != 0) {
    result = m_apActive[0] ? SetUpDirection(m_apActive[0], FALSE, bufferInfos, numChannels, bufferSize, bits, bDsd)
                           : ASE_InvalidParameter;
  }
  if (result != ASE_OK) {
    disposeBuffers();
    return result;
  }

  m_callbacks = *callbacks;
  m_bHaveCallbacks = TRUE;
  m_ulBufferSize = static_cast<ULONG>(bufferSize);
  if (StartThreads() != ASE_OK) {
    disposeBuffers();
    return ASE_NoMemory;
  }

  ZeroMemory(m_anHostSupport, sizeof(m_anHostSupport));
  if (m_callbacks.asioMessage && m_callbacks.asioMessage(kAsioEngineVersion, 0, nullptr, nullptr) > 1 &&
      m_callbacks.asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr) == 1)
    m_anHostSupport[kHostTimeInfo] = 1;

  if (bDsd) {
    if (!m_bDsdReady) {
      for (CDsdConverter& converter : m_aDsd) {
        if (FAILED(converter.Initialize(bufferSize / 8, static_cast<int>(bits / 8)))) {
          disposeBuffers();
          return ASE_InvalidParameter;
        }
      }
      m_bDsdReady = TRUE;
    }
    ModuleFree(m_pDsdScratch);
    m_pDsdScratch = static_cast<BYTE*>(ModuleAlloc(static_cast<SIZE_T>(bufferSize / 32) * 4));
    if (!m_pDsdScratch) {
      disposeBuffers();
      return ASE_InvalidParameter;
    }
  }

  m_nState = t32::kStatePrepared;
  if (OwnsBlock()) {
    t32::StatusBlock* block = Block();
    block->DriverState = t32::kStatePrepared;
    block->CurrentBuffer = bDsd ? static_cast<DWORD>(bufferSize / 32) : static_cast<DWORD>(bufferSize);
    block->DsdMode = bDsd ? 1 : 0;
    m_block.MarkChanged();
  }
  return ASE_OK;
}

ASIOError CAsioSample::disposeBuffers() {
  LONG numInputs = 0, numOutputs = 0;
  ASIOError result = getChannels(&numInputs, &numOutputs);
  if (m_bDsdReady) {
    for (CDsdConverter& converter : m_aDsd) converter.Release();
    m_bDsdReady = FALSE;
  }
  ModuleFree(m_pDsdScratch);
  m_pDsdScratch = nullptr;
  if (result == ASE_OK) {
    StopThreads();
    if (numInputs != 0 && m_apActive[1]) ReleaseRateEntry(m_apActive[1]);
    if (numOutputs != 0 && m_apActive[0]) ReleaseRateEntry(m_apActive[0]);
  }
  m_nState = t32::kStateInitialized;
  if (OwnsBlock()) {
    Block()->DriverState = t32::kStateInitialized;
    Block()->DsdMode = 0;
    m_block.MarkChanged();
  }
  m_apActive[0] = m_apActive[1] = nullptr;
  return result;
}

ASIOError CAsioSample::start() {
  ASIOError result = getChannels(nullptr, nullptr);
  if (result != ASE_OK || m_nState != t32::kStatePrepared) return result;
  m_nState = t32::kStateRunning;
  if (OwnsBlock()) {
    Block()->DriverState = t32::kStateRunning;
    m_block.MarkChanged();
  }
  SetEvent(m_ahCommands[kCmdStart]);
  WaitForSingleObject(m_hStateAck, INFINITE);
  return ASE_OK;
}

ASIOError CAsioSample::stop() {
  ASIOError result = getChannels(nullptr, nullptr);
  if (result != ASE_OK || m_nState != t32::kStateRunning) return result;
  SetEvent(m_ahCommands[kCmdStop]);
  WaitForSingleObject(m_hStateAck, INFINITE);
  m_nState = t32::kStatePrepared;
  if (OwnsBlock()) {
    Block()->DriverState = t32::kStatePrepared;
    m_block.MarkChanged();
  }
  return result;
}

ASIOError CAsioSample::outputReady() {
  if (m_nState == t32::kStateRunning) OutputCopy();
  return ASE_OK;
}

ASIOError CAsioSample::controlPanel() {
  HWND hPanel = FindWindowA(nullptr, t32::kPanelWindowTitle);
  if (!hPanel) {
    // The panel's folder comes from the settings key; a path that does not fit is not started.
    char folder[MAX_PATH];
    char path[MAX_PATH];
    if (t32::ReadPanelFolder(folder, sizeof(folder)) &&
        std::snprintf(path, sizeof(path), "%s%s", folder, t32::kPanelProgram) < static_cast<int>(sizeof(path)))
      ShellExecuteA(nullptr, "open", path, nullptr, nullptr, SW_SHOWNORMAL);
    hPanel = FindWindowA(nullptr, t32::kPanelWindowTitle);
  }
  if (hPanel && m_block.IsValid()) {
    Block()->Changed = 1;
    Block()->ShowPanel = 1;
  }
  return ASE_OK;
}

}  // namespace t32asio
