#pragma once
// The ERP's automation interface over COM: the typed calls by their entry in
// each interface's method table, business objects late-bound through
// IDispatch. Every call's HRESULT is checked; a failure raises EOleException
// with the server's error text.
#include <windows.h>
#include <oaidl.h>

#include <memory>

#include "export/optima.h"

namespace trelvex::win32 {

// The application object and the document-import object.
extern const CLSID kClsidCoApplication;
extern const IID kIidApplication;
extern const CLSID kClsidCoDokumentHaMagXml;
extern const IID kIidDokumentHaMagXml;

// Positions of the typed calls in the method tables (QueryInterface is 0).
namespace entry {
inline constexpr int kApplicationLogin = 13;
inline constexpr int kApplicationOpen = 14;
inline constexpr int kApplicationClose = 15;
inline constexpr int kLoginSession = 10;
inline constexpr int kSessionOpenObject = 9;
inline constexpr int kSessionSave = 11;
inline constexpr int kImportLogin = 16;
inline constexpr int kImportFromFile = 7;
}  // namespace entry

// The automation of the installed ERP (COM must be initialised on the thread).
std::unique_ptr<optima::IAutomation> CreateOptimaAutomation();

// A business object over `dispatch` (a reference of its own is taken).
std::shared_ptr<optima::IDispatchObject> WrapDispatch(IDispatch* dispatch);

// Variant conversions. ToVariant fills `out` (cleared first) with a value the
// caller owns; FromVariant copies what `value` holds.
void ToVariant(const optima::Variant& value, VARIANT& out);
optima::Variant FromVariant(const VARIANT& value);

// The EOleException for a failed call: the error information the server set,
// else the system's text for `hr`.
[[noreturn]] void RaiseOleError(HRESULT hr);

}  // namespace trelvex::win32
