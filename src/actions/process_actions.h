#pragma once
// The instruction's program and service steps: stopped before the setup,
// started again after it.

#include <string>

#include <tinyxml2.h>

#include "actions/action_base.h"

// Starts a program of the installation folder and does not wait for it.
class ActionStartProcess : public ActionBase {
 public:
  ActionStartProcess() : ActionBase(kActionStartProcess, 1) {}
  // FileName, relative to the installation folder.
  int32_t ParseFromXml(const tinyxml2::XMLElement& element);
  // Refuses a name that leads out of the installation folder.
  int32_t Execute() override;

  std::wstring FileName;  // as the server gave it
  std::wstring FilePath;
};

// Ends every running process of an image name.
class ActionStopProcess : public ActionBase {
 public:
  ActionStopProcess() : ActionBase(kActionStopProcess, 0) {}
  int32_t ParseFromXml(const tinyxml2::XMLElement& element);  // FileName: the image name
  int32_t Execute() override;

  std::wstring FileName;
};

class ActionStartService : public ActionBase {
 public:
  ActionStartService() : ActionBase(kActionStartService, 1) {}
  int32_t ParseFromXml(const tinyxml2::XMLElement& element);  // FileName: the service's key name
  int32_t Execute() override;

  std::wstring ServiceName;
};

class ActionStopService : public ActionBase {
 public:
  ActionStopService() : ActionBase(kActionStopService, 0) {}
  int32_t ParseFromXml(const tinyxml2::XMLElement& element);  // FileName: the service's key name
  int32_t Execute() override;

  std::wstring ServiceName;
};
