#include "protocol/answer_text.h"

#include <tinyxml2.h>

#include "win/strings.h"

int ExtractAnswerText(const std::wstring& answer, std::string& text) {
  AnswerSignature ignored;
  return ExtractAnswerText(answer, text, ignored);
}

int ExtractAnswerText(const std::wstring& answer, std::string& text, AnswerSignature& signature) {
  text.clear();
  signature = {};
  // Bytes above 0x7F came as U+FF80..U+FFFF and become the code page's
  // default character here: only ASCII answers arrive intact.
  const std::string bytes = win::ToNarrow(answer, CP_THREAD_ACP);

  tinyxml2::XMLDocument document;
  if (document.Parse(bytes.data(), bytes.size()) != tinyxml2::XML_SUCCESS) return kAnswerNotXml;
  const tinyxml2::XMLElement* root = document.FirstChildElement();
  if (root == nullptr) return kAnswerNoRoot;
  if (const char* value = root->Attribute("Signature"); value != nullptr) signature.Signature = value;
  if (const char* value = root->Attribute("SignatureKey"); value != nullptr) signature.KeyId = value;

  if (const char* content = root->GetText(); content != nullptr) {
    text.assign(content);
    if (text.size() > answer.size()) text.resize(answer.size());
  }
  return kAnswerTextFound;
}
