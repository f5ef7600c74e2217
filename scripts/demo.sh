#!/usr/bin/env bash
# Builds the worker and runs it once on a demo retail database (embedded
# Firebird engine) with the ERP stand-in, then shows what happened.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

TRELVEX_NO_WINDOWS=${TRELVEX_NO_WINDOWS:-1} bash scripts/setup.sh >/dev/null

demo=$root/demo
rm -rf "$demo"
mkdir -p "$demo/xml" "$demo/optima"
db=$demo/retail.fdb

# isql warns that DATE is now called TIMESTAMP: that is dialect 1's DATE,
# a date with a time, as the retail database has it.
quiet() { grep -v -e 'DATE data type is now called TIMESTAMP' -e '^-\?SQL warning code = 301' >&2 || true; }
echo "== Creating the demo database $db"
isql-fb -q 2> >(quiet) <<SQL
SET SQL DIALECT 1;
CREATE DATABASE '$db' USER 'SYSDBA' PASSWORD 'masterkey' DEFAULT CHARACTER SET WIN1250;
SQL
isql-fb -q -i sql/retail_schema.sql "$db" 2> >(quiet)
sed "s|@DEMO@|$demo|g" demo-data/retail_demo.sql > "$demo/data.sql"
isql-fb -q -ch UTF8 -i "$demo/data.sql" "$db" >/dev/null 2> >(quiet)

# The ERP stand-in: one operator, one known customer, the generic product PL
# and the product group KABLE.
cat > "$demo/optima/optima-sim.json" <<'JSON'
{
  "operators": [ { "login": "ADMIN", "password": "tajne", "server": "SERWER\\OPTIMA" } ],
  "customers": [ { "Akronim": "BAŁTYK", "Nazwa1": "Bałtyk sp. z o.o.", "Nazwa2": "", "Nazwa3": "",
                   "NIP": "583-234-56-78", "Grupa": "ODBIORCY",
                   "Adres": { "Miasto": "Gdańsk", "Ulica": "ul. Morska", "NrDomu": "5", "NrLokalu": "",
                              "KodPocztowyZKreska": "80-001", "Kraj": "Polska" } } ],
  "products": [ { "Kod": "PL", "Nazwa": "Płyty (pozycja zbiorcza)", "Opis": "", "JM": "szt.",
                  "Flaga": 2, "Stawka": 23, "FlagaZak": 2, "StawkaZak": 23,
                  "KopiujOpis": 1, "EdycjaNazwy": 1, "EdycjaOpisu": 1 } ],
  "groups": [ { "Kod": "KABLE", "GIDNumer": 7 } ]
}
JSON

echo
echo "== Queued: request 1 (orders 101 exportable, 102 refused, 103 locked, 999 missing),"
echo "   request 2 (expired), request 3 (incomplete), request 4 (order 104)"
echo
echo "== Running: build/trelvex -DBPATH=$demo/ -DBFILE=retail.fdb -ID=1 -LOGLEVEL=1"
build/trelvex "-DBPATH=$demo/" -DBFILE=retail.fdb -ID=1 -LOGLEVEL=1

show() { isql-fb -q -ch UTF8 "$db" <<SQL
SET LIST $2;
$1
SQL
}
echo
echo "== EKSPHEAD (requests)"
show "SELECT ID, STATUS, STATUSINFO, DATASTART, DATAKONIEC, CAST(LOG AS VARCHAR(2000)) AS LOG FROM EKSPHEAD ORDER BY ID;" ON
echo "== EKSPDETAIL (items)"
show "SELECT ID, IDEKSPHEAD, IDREKORDU, STATUS, CAST(STATUSINFO AS VARCHAR(110)) AS STATUSINFO FROM EKSPDETAIL ORDER BY ID;" OFF
echo "== ZAMHEAD (orders)"
show "SELECT ID, NUMERSTR, STATUS, STAN, DATAAKCEPTACJI FROM ZAMHEAD ORDER BY ID;" OFF
echo "== Operator messages"
show "SELECT IDADRESATA, PRIORYTET, IDOBIEKTU, CAST(TEMAT AS VARCHAR(120)) AS TEMAT FROM WIADOMOSCI ORDER BY ID;" OFF
echo "== XML written for order 101 ($demo/xml/101.xml, Windows-1250)"
iconv -f WINDOWS-1250 -t UTF-8 "$demo/xml/101.xml" | tr -d '\r'
echo
echo "== What the ERP stand-in now holds ($demo/optima)"
cat "$demo/optima/optima-sim.json"; echo
echo "-- imported documents"
cat "$demo/optima/optima-sim-documents.jsonl" 2>/dev/null || echo "(none)"
echo
echo "== Log file"
ls build/Log/ | tail -n 1
