// Adds a certificate authority (a DER file) to the local machine's trusted root
// store, so that WinINet and urlmon in this Wine prefix accept the test update
// server's certificate. The certificate is then read back through a new store
// handle: exit code 0 means it is in the store.
//
//   trust_ca.exe <authority.der>
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <vector>

namespace {

bool ReadWholeFile(const wchar_t* path, std::vector<BYTE>& data) {
  HANDLE file =
      CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  bool ok = GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart < (1 << 20);
  if (ok) {
    data.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    ok = ReadFile(file, data.data(), static_cast<DWORD>(data.size()), &read, nullptr) && read == data.size();
  }
  CloseHandle(file);
  return ok;
}

HCERTSTORE OpenMachineRoot(DWORD extraFlags) {
  return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE | extraFlags, L"ROOT");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    fwprintf(stderr, L"usage: trust_ca <authority.der>\n");
    return 2;
  }
  std::vector<BYTE> der;
  if (!ReadWholeFile(argv[1], der)) {
    fwprintf(stderr, L"trust_ca: cannot read %ls (error %lu)\n", argv[1], GetLastError());
    return 3;
  }
  PCCERT_CONTEXT wanted = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
  if (!wanted) {
    fwprintf(stderr, L"trust_ca: %ls is not a DER certificate (error %lu)\n", argv[1], GetLastError());
    return 3;
  }
  wchar_t subject[256] = L"";
  CertGetNameStringW(wanted, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, subject, 256);

  int result = 0;
  HCERTSTORE store = OpenMachineRoot(0);
  if (!store) {
    fwprintf(stderr, L"trust_ca: cannot open the machine's ROOT store (error %lu)\n", GetLastError());
    result = 4;
  } else {
    if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
      fwprintf(stderr, L"trust_ca: adding \"%ls\" failed (error %lu)\n", subject, GetLastError());
      result = 5;
    }
    CertCloseStore(store, 0);
  }

  if (result == 0) {
    // A fresh handle reads what was persisted, not what the first handle cached.
    HCERTSTORE check = OpenMachineRoot(CERT_STORE_READONLY_FLAG);
    PCCERT_CONTEXT found =
        check ? CertFindCertificateInStore(check, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted, nullptr) : nullptr;
    if (found) {
      wprintf(L"trust_ca: \"%ls\" is in the machine's ROOT store\n", subject);
      CertFreeCertificateContext(found);
    } else {
      fwprintf(stderr, L"trust_ca: \"%ls\" was added but is not found in the ROOT store\n", subject);
      result = 6;
    }
    if (check) CertCloseStore(check, 0);
  }
  CertFreeCertificateContext(wanted);
  return result;
}
