#pragma once
// The ERP stand-in of the Linux build: the automation interface over state
// files in the ERP's directory, which is the current directory at "create
// application" (and at "create import").
//
// Files in that directory (all UTF-8):
//
// optima-sim.json: the ERP's state; without it the ERP counts as not
//   installed there. Keys:
//   - "operators": [{"login", "password", "server"}]; a login succeeds only
//     for an exact match of all three. Without the key any login succeeds.
//   - "customers": [{"Akronim", "Nazwa1", "Nazwa2", "Nazwa3", "NIP", "Grupa",
//     "Adres": {"Miasto", "Ulica", "NrDomu", "NrLokalu", "KodPocztowyZKreska",
//     "Kraj"}}], found by "CDN.Kontrahenci" with Knt_Kod='<Akronim>'.
//   - "products": [{"Kod", "Nazwa", "Opis", "JM", "Flaga", "Stawka",
//     "FlagaZak", "StawkaZak", "KopiujOpis", "EdycjaNazwy", "EdycjaOpisu",
//     "TwGGIDNumer"}] (integers but the first four), found by "CDN.Towary"
//     with Twr_Kod='<Kod>'.
//   - "groups": [{"Kod", "GIDNumer"}], found by "CDN.TwrGrupy" with
//     TwG_Kod='<Kod>'. A group added without a number gets the next free one.
//   - "fail": {"<call>": "<text>"}: while present, that call fails with that
//     text. Calls: CreateApplication, Open, Login, Session, Save,
//     CreateImport, ImportLogin, Import, Close, AddNew, "OpenObject:<ProgID>"
//     and any member name of a business object (Put or Call alike).
//   The stand-in keeps the parsed state per directory and reads the file again
//   only when its size, modification time or identity changed. Session save
//   rewrites it whole through a temporary file and a rename. Records added
//   with AddNew, and changes put to records found, reach the file only at
//   session save; a code already held by another record refuses the save.
//
// optima-sim.log: the journal, one line per call as it happens, before the
//   call can fail (only a failure to find or read optima-sim.json at "create
//   application" or "create import" leaves no line): the call's name, then for
//   each argument a blank and the argument. Names and arguments:
//     CreateApplication
//     Open <a> <b>
//     Login <login> <password> <server>      (the 18 flags are not written)
//     Session
//     OpenObject <ProgID> <filter>
//     Save
//     Close
//     CreateImport
//     ImportLogin
//     Import <path>
//     Call <member> <arguments...>           (missing arguments are left out)
//     Put <member> <value>
//   Texts are written as passed; integers in decimal; Null, Empty and Object
//   stand for such variants. Carriage returns and line feeds inside values
//   are written as \r and \n, other control characters as \xHH, so that every
//   call stays one line.
//
// optima-sim-documents.jsonl: one JSON object per imported document:
//   {"file": <full path>, "NUMER_PELNY": ..., "PLATNIK": <payer's KOD>,
//    "TOWARY": [<item codes in order>]}.
//
// Import reads the file as XML in the encoding it declares; its root must be
// ROOT in the namespace http://www.cdn.com.pl/optima/dokument, and the payer
// and every item's product must be saved records. Failures raise
// EOleException with a Windows-1250 text.
#include <memory>

#include "export/optima.h"

namespace trelvex::posix {

std::unique_ptr<optima::IAutomation> CreateOptimaStandIn();

}  // namespace trelvex::posix
