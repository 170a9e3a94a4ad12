#pragma once
// Instruction.xml, the update check's answer: its general information and the
// actions to run before, for and after the setup.

#include <cstdint>

#include <tinyxml2.h>

#include "actions/action_base.h"
#include "product/cmd_line_info.h"
#include "protocol/instruction_info.h"

inline constexpr int32_t kInstructionAvailable = 0;
inline constexpr int32_t kInstructionWithoutDownload = 3;  // an UpdateId but no Download element
inline constexpr int32_t kInstructionNotXml = 10;
inline constexpr int32_t kInstructionNoRoot = 11;
inline constexpr int32_t kInstructionNothingAvailable = 18;  // UpdateId 0

// The server's token for the built-in Japanese link text, which the answer
// itself can't carry: only ASCII reaches the client intact.
inline constexpr wchar_t kJapaneseLinkTextToken[] = L"KARVO_P_11";

// Parses the zero-terminated text into info and the three lists. The Pre and
// main lists are appended to; the Post list is rebuilt when the answer has a
// Post element. On 10 and 11 nothing is changed; on 18 only the general
// information; on 3 the general information and the Pre list.
int32_t LoadInstructionXml(const char* text, ActionList& preActions, ActionList& mainActions, ActionList& postActions,
                           InstructionInfo& info, const CmdLineInfo& options);

// The steps of LoadInstructionXml; each returns 1.
int32_t ParseGeneralInformations(const tinyxml2::XMLElement& root, InstructionInfo& info);
int32_t ParseDownload(const tinyxml2::XMLElement& download, ActionList& mainActions);
int32_t ParsePre(const tinyxml2::XMLElement& pre, ActionList& preActions);
int32_t ParsePost(const tinyxml2::XMLElement& post, ActionList& postActions);
