// The server as an early-binding C++ host sees it: the class factory and
// unload rule, the vtable and DISPID numbering, plain-storage properties,
// the connection point and the error information.
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <string>

#include "quorvex_h.h"
#include "wine/wine_paths.h"

using quorvex::testing_support::HrText;
using quorvex::testing_support::WinePath;

namespace {

using TGetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
using TCanUnloadNow = HRESULT(WINAPI*)();

class ServerTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    CoInitialize(nullptr);
    module_ = LoadLibraryW(WinePath(QV_QUORVEX_DLL).c_str());
    ASSERT_NE(module_, nullptr) << GetLastError();
    getClassObject_ = reinterpret_cast<TGetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
    canUnloadNow_ = reinterpret_cast<TCanUnloadNow>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
    ASSERT_NE(getClassObject_, nullptr);
    ASSERT_NE(canUnloadNow_, nullptr);
  }

  IClassFactory* Factory() {
    IClassFactory* factory = nullptr;
    const HRESULT hr = getClassObject_(CLSID_Scanner, IID_IClassFactory,
                                       reinterpret_cast<void**>(&factory));
    EXPECT_EQ(hr, S_OK) << HrText(hr);
    return factory;
  }

  IScanner* NewScanner() {
    IClassFactory* factory = Factory();
    IScanner* scanner = nullptr;
    const HRESULT hr =
        factory->CreateInstance(nullptr, IID_IScanner, reinterpret_cast<void**>(&scanner));
    EXPECT_EQ(hr, S_OK) << HrText(hr);
    factory->Release();
    return scanner;
  }

  static inline HMODULE module_ = nullptr;
  static inline TGetClassObject getClassObject_ = nullptr;
  static inline TCanUnloadNow canUnloadNow_ = nullptr;
};

TEST_F(ServerTest, ClassObjectOnlyForScanner) {
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(getClassObject_(IID_IScanner, IID_IClassFactory, &object),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(getClassObject_(CLSID_Scanner, IID_IDispatch, &object), E_NOINTERFACE);
  IClassFactory* factory = Factory();
  ASSERT_NE(factory, nullptr);
  IUnknown* outer = factory;  // any non-null outer unknown asks for aggregation
  IUnknown* inner = nullptr;
  EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, reinterpret_cast<void**>(&inner)),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(inner, nullptr);
  factory->Release();
}

TEST_F(ServerTest, CanUnloadOnlyWithoutObjectsAndLocks) {
  EXPECT_EQ(canUnloadNow_(), S_OK);
  IScanner* first = NewScanner();
  IScanner* second = NewScanner();
  ASSERT_TRUE(first && second);
  EXPECT_NE(first, second) << "every request makes a new object";
  EXPECT_EQ(canUnloadNow_(), S_FALSE);
  first->Release();
  EXPECT_EQ(canUnloadNow_(), S_FALSE);
  second->Release();
  EXPECT_EQ(canUnloadNow_(), S_OK);

  IClassFactory* factory = Factory();
  factory->LockServer(TRUE);
  EXPECT_EQ(canUnloadNow_(), S_FALSE);
  factory->LockServer(FALSE);
  EXPECT_EQ(canUnloadNow_(), S_OK);
  factory->Release();
}

TEST_F(ServerTest, PropertiesArePlainStorageWithTheirInitialValues) {
  IScanner* scanner = NewScanner();
  ASSERT_NE(scanner, nullptr);
  LONG value = -7;
  VARIANT_BOOL flag = 1;
  BSTR text = nullptr;
  EXPECT_EQ(scanner->get_ScanResult(&value), S_OK);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(scanner->get_ScanXDpi(&value), S_OK);
  EXPECT_EQ(value, 200);
  EXPECT_EQ(scanner->get_ScanYDpi(&value), S_OK);
  EXPECT_EQ(value, 200);
  EXPECT_EQ(scanner->get_ScanImgFormat(&value), S_OK);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(scanner->get_ShowScanUI(&flag), S_OK);
  EXPECT_EQ(flag, VARIANT_TRUE);
  EXPECT_EQ(scanner->get_ConvertToPdf(&flag), S_OK);
  EXPECT_EQ(flag, VARIANT_FALSE);
  EXPECT_EQ(scanner->get_PdfCreator(&text), S_OK);
  EXPECT_STREQ(text, L"Quorv");
  SysFreeString(text);
  EXPECT_EQ(scanner->get_PdfPaperSize(&text), S_OK);
  EXPECT_STREQ(text, L"a4");
  SysFreeString(text);
  EXPECT_EQ(scanner->get_Filename(&text), S_OK);
  EXPECT_STREQ(text, L"");
  SysFreeString(text);

  // Setters store without validating; booleans store "non-zero".
  EXPECT_EQ(scanner->put_ShowScanUI(5), S_OK);
  EXPECT_EQ(scanner->get_ShowScanUI(&flag), S_OK);
  EXPECT_EQ(flag, VARIANT_TRUE);
  EXPECT_EQ(scanner->put_ScanXDpi(-65736), S_OK);
  EXPECT_EQ(scanner->get_ScanXDpi(&value), S_OK);
  EXPECT_EQ(value, -65736);
  BSTR title = SysAllocString(L" Annual report ");
  EXPECT_EQ(scanner->put_PdfTitle(title), S_OK);
  SysFreeString(title);
  EXPECT_EQ(scanner->get_PdfTitle(&text), S_OK);
  EXPECT_STREQ(text, L" Annual report ");
  SysFreeString(text);
  EXPECT_EQ(scanner->put_PdfAuthor(nullptr), S_OK);  // a null BSTR is the empty string
  EXPECT_EQ(scanner->get_PdfAuthor(&text), S_OK);
  EXPECT_EQ(SysStringLen(text), 0u);
  SysFreeString(text);
  scanner->Release();
}

struct MemberRow {
  const wchar_t* name;
  INVOKEKIND kind;
  MEMBERID id;
};

// Vtable order after the seven IUnknown/IDispatch slots, with DISPIDs.
const MemberRow kMembers[] = {
    {L"Scan", INVOKE_FUNC, 1},
    {L"Filename", INVOKE_PROPERTYGET, 2},     {L"Filename", INVOKE_PROPERTYPUT, 2},
    {L"ScanResult", INVOKE_PROPERTYGET, 4},   {L"ConvertToPdf", INVOKE_PROPERTYGET, 3},
    {L"ConvertToPdf", INVOKE_PROPERTYPUT, 3}, {L"PdfCreator", INVOKE_PROPERTYGET, 6},
    {L"PdfCreator", INVOKE_PROPERTYPUT, 6},   {L"PdfAuthor", INVOKE_PROPERTYGET, 7},
    {L"PdfAuthor", INVOKE_PROPERTYPUT, 7},    {L"PdfTitle", INVOKE_PROPERTYGET, 8},
    {L"PdfTitle", INVOKE_PROPERTYPUT, 8},     {L"PdfSubject", INVOKE_PROPERTYGET, 9},
    {L"PdfSubject", INVOKE_PROPERTYPUT, 9},   {L"PdfKeywords", INVOKE_PROPERTYGET, 10},
    {L"PdfKeywords", INVOKE_PROPERTYPUT, 10}, {L"PdfPaperSize", INVOKE_PROPERTYGET, 12},
    {L"PdfPaperSize", INVOKE_PROPERTYPUT, 12}, {L"ShowScanUI", INVOKE_PROPERTYGET, 5},
    {L"ShowScanUI", INVOKE_PROPERTYPUT, 5},   {L"ScanXDpi", INVOKE_PROPERTYGET, 11},
    {L"ScanXDpi", INVOKE_PROPERTYPUT, 11},    {L"ScanYDpi", INVOKE_PROPERTYGET, 13},
    {L"ScanYDpi", INVOKE_PROPERTYPUT, 13},    {L"ScanImgFormat", INVOKE_PROPERTYGET, 14},
    {L"ScanImgFormat", INVOKE_PROPERTYPUT, 14},
};

TEST_F(ServerTest, TypeLibraryFixesVtableOrderAndDispids) {
  IScanner* scanner = NewScanner();
  ASSERT_NE(scanner, nullptr);
  ITypeInfo* info = nullptr;
  ASSERT_EQ(scanner->GetTypeInfo(0, 0, &info), S_OK);
  ITypeInfo* vtableInfo = info;
  // The dual interface's dispatch description refers to its vtable one.
  HREFTYPE ref = 0;
  if (SUCCEEDED(info->GetRefTypeOfImplType(-1, &ref))) info->GetRefTypeInfo(ref, &vtableInfo);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(vtableInfo->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, IID_IScanner);
  EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDISPATCHABLE);
  ASSERT_EQ(attr->cFuncs, 26);
  vtableInfo->ReleaseTypeAttr(attr);
  for (UINT i = 0; i < 26; ++i) {
    FUNCDESC* func = nullptr;
    ASSERT_EQ(vtableInfo->GetFuncDesc(i, &func), S_OK);
    BSTR name = nullptr;
    vtableInfo->GetDocumentation(func->memid, &name, nullptr, nullptr, nullptr);
    EXPECT_STREQ(name, kMembers[i].name) << "slot " << i;
    EXPECT_EQ(func->invkind, kMembers[i].kind) << "slot " << i;
    EXPECT_EQ(func->memid, kMembers[i].id) << "slot " << i;
    EXPECT_EQ(func->oVft, static_cast<short>((7 + i) * sizeof(void*))) << "slot " << i;
    SysFreeString(name);
    vtableInfo->ReleaseFuncDesc(func);
  }
  if (vtableInfo != info) vtableInfo->Release();
  info->Release();

  ITypeLib* library = nullptr;
  UINT index = 0;
  info = nullptr;
  ASSERT_EQ(scanner->GetTypeInfo(0, 0, &info), S_OK);
  ASSERT_NE(info, nullptr);
  ASSERT_EQ(info->GetContainingTypeLib(&library, &index), S_OK);
  info->Release();
  TLIBATTR* libAttr = nullptr;
  ASSERT_EQ(library->GetLibAttr(&libAttr), S_OK);
  EXPECT_EQ(libAttr->guid, LIBID_Quorvex);
  EXPECT_EQ(libAttr->lcid, 0x0409u);
  EXPECT_EQ(libAttr->wMajorVerNum, 1);
  EXPECT_EQ(libAttr->wMinorVerNum, 0);
  EXPECT_EQ(libAttr->syskind, SYS_WIN32);
  library->ReleaseTLibAttr(libAttr);
  BSTR libName = nullptr, libHelp = nullptr;
  library->GetDocumentation(-1, &libName, &libHelp, nullptr, nullptr);
  EXPECT_STREQ(libName, L"Quorvex");
  EXPECT_STREQ(libHelp, L"Quorvex Library");
  SysFreeString(libName);
  SysFreeString(libHelp);
  EXPECT_EQ(library->GetTypeInfoCount(), 3u);
  ITypeInfo* events = nullptr;
  ASSERT_EQ(library->GetTypeInfoOfGuid(DIID_IScannerEvents, &events), S_OK);
  TYPEATTR* eventsAttr = nullptr;
  events->GetTypeAttr(&eventsAttr);
  EXPECT_EQ(eventsAttr->typekind, TKIND_DISPATCH);
  EXPECT_EQ(eventsAttr->cFuncs, 0);
  EXPECT_EQ(eventsAttr->cVars, 0);
  EXPECT_EQ(eventsAttr->wMajorVerNum, 1);
  EXPECT_EQ(eventsAttr->wMinorVerNum, 0);
  events->ReleaseTypeAttr(eventsAttr);
  events->Release();
  library->Release();
  scanner->Release();
}

TEST_F(ServerTest, LateBindingUsesTheDispids) {
  IScanner* scanner = NewScanner();
  ASSERT_NE(scanner, nullptr);
  const wchar_t* names[] = {L"ScanResult", L"ConvertToPdf", L"scanxdpi", L"Scan"};
  const DISPID expected[] = {4, 3, 11, 1};
  for (int i = 0; i < 4; ++i) {
    DISPID id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(names[i]);
    EXPECT_EQ(scanner->GetIDsOfNames(IID_NULL, &name, 1, 0x0409, &id), S_OK);
    EXPECT_EQ(id, expected[i]) << names[i];
  }
  // Put ScanYDpi by DISPID 13, read it back through the vtable.
  VARIANT arg;
  VariantInit(&arg);
  arg.vt = VT_I4;
  arg.lVal = 600;
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params = {&arg, &named, 1, 1};
  EXPECT_EQ(scanner->Invoke(13, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr,
                            nullptr),
            S_OK);
  LONG value = 0;
  scanner->get_ScanYDpi(&value);
  EXPECT_EQ(value, 600);
  VARIANT result;
  VariantInit(&result);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  EXPECT_EQ(scanner->Invoke(4, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                            nullptr),
            S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_EQ(result.lVal, 0);
  scanner->Release();
}

// A sink for the member-less events interface.
class TSink : public IDispatch {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID_IScannerEvents) {
      *object = this;
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    ++calls;
    return S_OK;
  }
  ULONG refs = 1;
  int calls = 0;
};

TEST_F(ServerTest, EventsPointTakesOneSinkWithCookieOne) {
  IScanner* scanner = NewScanner();
  ASSERT_NE(scanner, nullptr);
  IConnectionPointContainer* container = nullptr;
  ASSERT_EQ(scanner->QueryInterface(IID_IConnectionPointContainer,
                                    reinterpret_cast<void**>(&container)),
            S_OK);
  IConnectionPoint* point = nullptr;
  IConnectionPoint* none = nullptr;
  EXPECT_EQ(container->FindConnectionPoint(IID_IScanner, &none), CONNECT_E_NOCONNECTION);
  ASSERT_EQ(container->FindConnectionPoint(DIID_IScannerEvents, &point), S_OK);
  IID iid{};
  EXPECT_EQ(point->GetConnectionInterface(&iid), S_OK);
  EXPECT_EQ(iid, DIID_IScannerEvents);

  IEnumConnectionPoints* points = nullptr;
  ASSERT_EQ(container->EnumConnectionPoints(&points), S_OK);
  IConnectionPoint* listed[2] = {};
  ULONG fetched = 0;
  EXPECT_EQ(points->Next(2, listed, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 1u);
  EXPECT_EQ(listed[0], point);
  if (listed[0]) listed[0]->Release();
  points->Release();

  TSink first, second;
  DWORD cookie = 0, other = 77;
  EXPECT_EQ(point->Advise(&first, &cookie), S_OK);
  EXPECT_EQ(cookie, 1u);
  EXPECT_EQ(point->Advise(&second, &other), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(second.refs, 1u) << "a refused sink is not kept";

  IEnumConnections* connections = nullptr;
  ASSERT_EQ(point->EnumConnections(&connections), S_OK);
  CONNECTDATA data[2] = {};
  EXPECT_EQ(connections->Next(2, data, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  EXPECT_EQ(data[0].dwCookie, 1u);
  data[0].pUnk->Release();
  connections->Release();

  EXPECT_EQ(point->Unadvise(2), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(point->Unadvise(1), S_OK);
  EXPECT_EQ(first.refs, 1u) << "the sink is released on Unadvise";
  EXPECT_EQ(point->Unadvise(1), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(point->Advise(&second, &cookie), S_OK);
  EXPECT_EQ(cookie, 1u);
  point->Release();
  container->Release();
  scanner->Release();  // the connected sink goes with the object
  EXPECT_EQ(second.refs, 1u);
  EXPECT_EQ(second.calls, 0);
}

TEST_F(ServerTest, ClassInfoAndErrorInfoSupport) {
  IScanner* scanner = NewScanner();
  ASSERT_NE(scanner, nullptr);
  ISupportErrorInfo* support = nullptr;
  ASSERT_EQ(scanner->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)),
            S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IScanner), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IConnectionPointContainer), S_FALSE);
  support->Release();
  IProvideClassInfo* classInfo = nullptr;
  ASSERT_EQ(scanner->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void**>(&classInfo)),
            S_OK);
  ITypeInfo* coclass = nullptr;
  ASSERT_EQ(classInfo->GetClassInfo(&coclass), S_OK);
  TYPEATTR* attr = nullptr;
  coclass->GetTypeAttr(&attr);
  EXPECT_EQ(attr->guid, CLSID_Scanner);
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
  ASSERT_EQ(attr->cImplTypes, 2);
  coclass->ReleaseTypeAttr(attr);
  int flags0 = 0, flags1 = 0;
  coclass->GetImplTypeFlags(0, &flags0);
  coclass->GetImplTypeFlags(1, &flags1);
  EXPECT_EQ(flags0, IMPLTYPEFLAG_FDEFAULT);
  EXPECT_EQ(flags1, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
  coclass->Release();
  classInfo->Release();
  scanner->Release();
}

std::wstring ErrorDescription() {
  IErrorInfo* info = nullptr;
  std::wstring text;
  if (GetErrorInfo(0, &info) == S_OK && info) {
    BSTR description = nullptr;
    info->GetDescription(&description);
    text = description ? description : L"";
    SysFreeString(description);
    info->Release();
  }
  return text;
}

// A host that hands over garbage pointers makes the members fault inside the
// server (in the system's string code, in the server's own stores): each
// fault comes back as E_UNEXPECTED with error information, and the host and
// the object live on.
TEST_F(ServerTest, AFaultInsideAMemberIsAnErrorAndTheHostLivesOn) {
  IScanner* scanner = NewScanner();
  ASSERT_NE(scanner, nullptr);
  const auto wild = reinterpret_cast<BSTR>(static_cast<ULONG_PTR>(0x10));
  HRESULT hr = scanner->put_Filename(wild);
  EXPECT_EQ(hr, E_UNEXPECTED) << HrText(hr);
  EXPECT_EQ(ErrorDescription().rfind(L"Access violation at address ", 0), 0u);
  hr = scanner->get_ScanXDpi(reinterpret_cast<LONG*>(static_cast<ULONG_PTR>(0x20)));
  EXPECT_EQ(hr, E_UNEXPECTED) << HrText(hr);
  EXPECT_NE(ErrorDescription().find(L"write of address"), std::wstring::npos);
  hr = scanner->get_PdfTitle(reinterpret_cast<BSTR*>(static_cast<ULONG_PTR>(0x30)));
  EXPECT_EQ(hr, E_UNEXPECTED) << HrText(hr);

  // The object still works, and so do the thread's own exception frames.
  BSTR name = SysAllocString(L"C:\\after.tif");
  EXPECT_EQ(scanner->put_Filename(name), S_OK);
  SysFreeString(name);
  name = nullptr;
  EXPECT_EQ(scanner->get_Filename(&name), S_OK);
  EXPECT_STREQ(name, L"C:\\after.tif");
  SysFreeString(name);
  EXPECT_EQ(scanner->get_ScanXDpi(nullptr), E_POINTER);
  scanner->Release();
}

}  // namespace
