# Workload of the export benchmark, sourced by scripts/bench.sh.
#
# make_workload DIR RUN REQUESTS ORDERS
#   Creates DIR/retail.fdb (embedded, the retail schema) and DIR/erp (the ERP
#   stand-in's state) with REQUESTS queued requests of ORDERS orders each,
#   every order with three lines, all exportable. The export configuration
#   (ID 1) points at RUN/erp and RUN/xml: the benchmark copies DIR to RUN
#   before every run, so every run starts from the same data.
#
# Customers and products are known to the ERP under the codes the worker
# looks them up by, so registration finds them and only looks up.

BENCH_CUSTOMERS=200
BENCH_PRODUCTS=500

# isql's output without the dialect 1 notice about DATE.
quiet_isql() {
  grep -v -e '^-*SQL warning code = 301' -e '^-*DATE data type is now called TIMESTAMP' || true
}

make_workload() {
  local dir=$1 run=$2 requests=$3 per=$4
  local orders=$((requests * per))
  rm -rf "$dir"
  mkdir -p "$dir/erp"
  local db=$dir/retail.fdb

  isql-fb -q <<SQL
SET SQL DIALECT 1;
CREATE DATABASE '$db' USER 'SYSDBA' PASSWORD 'masterkey' DEFAULT CHARACTER SET WIN1250;
SQL
  isql-fb -q -i sql/retail_schema.sql "$db" 2>&1 | quiet_isql

  isql-fb -q -ch UTF8 "$db" 2>&1 <<SQL | quiet_isql
SET SQL DIALECT 1;
INSERT INTO OPERATOR (ID, IMIE, NAZWISKO, EXXLOGIN) VALUES (1, 'Anna', 'Nowak', 'anowak');
INSERT INTO SLOWNIK (ID, NAZWA, INFOSTRING, INFOINTEGER) VALUES (1, 'Kraków', NULL, NULL);
INSERT INTO SLOWNIK (ID, NAZWA, INFOSTRING, INFOINTEGER) VALUES (2, 'Polska', NULL, NULL);
INSERT INTO SLOWNIK (ID, NAZWA, INFOSTRING, INFOINTEGER) VALUES (3, 'Magazyn główny', 'MAG1', NULL);
INSERT INTO SLOWNIK (ID, NAZWA, INFOSTRING, INFOINTEGER) VALUES (4, 'SPRZEDAŻ', NULL, NULL);
INSERT INTO SLOWNIK (ID, NAZWA, INFOSTRING, INFOINTEGER) VALUES (5, 'ODBIORCY', NULL, NULL);
INSERT INTO SLOWNIK (ID, NAZWA, INFOSTRING, INFOINTEGER) VALUES (6, '23%', NULL, 23);
INSERT INTO SLOWNIK (ID, NAZWA, INFOSTRING, INFOINTEGER) VALUES (7, 'szt.', NULL, NULL);
INSERT INTO SLOWNIK (ID, NAZWA, INFOSTRING, INFOINTEGER) VALUES (8, 'KABLE', NULL, NULL);
INSERT INTO EKSPKONF (ID, NAZWA, IDTABELI, RODZAJ, OPIS, OPCJE, LOGLEVEL, KATALOGLOG, ARC, USUNIETY,
    SERWER, SCIEZKA, LOGIN, HASLO, DODATKOWE, KATALOG, WAZNOSC)
  VALUES (1, 'Zamówienia do Optimy', 52, 0, 'Eksport zamówień', 7, 0, '', 0, 0, 'SERWER\OPTIMA',
    '$run/erp', 'ADMIN', 'tajne',
    'DODAJ_KONTRAHENTA=1' || ASCII_CHAR(13) || ASCII_CHAR(10) || 'DODAJ_TOWARY=1', '$run/xml', 0);
COMMIT;

SET TERM ^ ;
EXECUTE BLOCK AS
  DECLARE I INTEGER = 1;
BEGIN
  WHILE (I <= $BENCH_CUSTOMERS) DO
  BEGIN
    INSERT INTO KONTRAHENT (ID, SKROTNAZWY, PROSTYNIP, PELNANAZWA, NIP, REGON, KODPOCZTOWY, ADRES,
        ADRESDOM, ADRESMIESZKANIE, IDMIASTO, IDKRAJ, IDTYPKONTRAHENTA)
      VALUES (:I, 'KL' || LPAD(:I, 5, '0'), '676' || LPAD(:I, 7, '0'),
        'Przedsiębiorstwo Handlowe "Klient ' || :I || '" sp. z o.o.', '676-' || LPAD(:I, 7, '0'),
        NULL, '30-001', 'ul. Długa', '12', '3', 1, 2, 5);
    I = I + 1;
  END
  I = 1;
  WHILE (I <= $BENCH_PRODUCTS) DO
  BEGIN
    INSERT INTO TOWARY (ID, SKROTNAZWY, IDGRUPYTOWAROWEJ) VALUES (:I, 'TW' || LPAD(:I, 5, '0'), 8);
    I = I + 1;
  END
END^

EXECUTE BLOCK AS
  DECLARE I INTEGER = 1;
  DECLARE K INTEGER;
  DECLARE J INTEGER = 1;
BEGIN
  WHILE (I <= $orders) DO
  BEGIN
    INSERT INTO ZAMHEAD (ID, NUMER, NUMERSTR, STATUS, STAN, UWAGI, OPIS, IDMAGAZYNU, IDKATEGORII, ARC,
        USUNIETY, DATAWPISU, DATAPRZYJECIA, DATAAKCEPTACJI, IDKONTRAHENTA, IDOPERATORA,
        IDFORMYPLATNOSCI, TERMINPLATNOSCI, NETTO, VAT, RABAT, ILOSCPOZYCJI)
      VALUES (:I, :I, 'ZAM/2026/' || :I, 1, 0, 'Dostawa do 10:00', 'Zamówienie nr ' || :I || ' & dostawa',
        3, 4, 0, 0, '2026-12-01 08:00:00', '2026-12-01 08:00:00', '2026-12-02 00:00:00',
        MOD(:I, $BENCH_CUSTOMERS) + 1, 1, 3, 14, 120.00, 27.60, -6.00, 3);
    K = 1;
    WHILE (K <= 3) DO
    BEGIN
      INSERT INTO ZAMDETAIL (ID, IDHEAD, LP, IDTOWARU, NAZWA, ILOSC, CENANETTO, RABATPROC, IDVAT,
          MODYFIKATOR, IDJEDNOSTKI, ZAKUPNETTO, USUNIETY, ANULOWANY, ARC)
        VALUES (3 * :I + :K - 3, :I, :K, MOD(3 * :I + :K, $BENCH_PRODUCTS) + 1,
          'Płyta laminowana <' || (:K * 6) || ' mm> nr ' || :I, :K, 10.00 + MOD(:I, 7) + :K,
          IIF(:K = 2, -0.10, 0), 6, IIF(:K = 1, 'kolor czarny', NULL), 7, 6.00, 0, 0, 0);
      K = K + 1;
    END
    I = I + 1;
  END
  I = 1;
  WHILE (I <= $requests) DO
  BEGIN
    INSERT INTO EKSPHEAD (ID, IDEKSPKONF, DATA, STATUS, ILOSCPOZYCJI, IDOPERATORA)
      VALUES (:I, 1, CURRENT_TIMESTAMP - 1 + :I * 0.0001, 0, $per, 1);
    I = I + 1;
  END
  I = 1;
  WHILE (I <= $requests) DO
  BEGIN
    K = 1;
    WHILE (K <= $per) DO
    BEGIN
      INSERT INTO EKSPDETAIL (ID, IDEKSPHEAD, IDREKORDU, STATUS) VALUES (:J, :I, :J, 0);
      J = J + 1;
      K = K + 1;
    END
    I = I + 1;
  END
END^
SET TERM ; ^
COMMIT;
SQL

  # The ERP holds the operator, every customer and every product.
  {
    printf '{\n  "operators": [ { "login": "ADMIN", "password": "tajne", "server": "SERWER\\\\OPTIMA" } ],\n'
    printf '  "customers": [\n'
    local i sep=""
    for ((i = 1; i <= BENCH_CUSTOMERS; i++)); do
      printf '%s    { "Akronim": "KL%05d", "Nazwa1": "Klient %d", "Nazwa2": "", "Nazwa3": "", "NIP": "676-%07d", "Grupa": "ODBIORCY", "Adres": { "Miasto": "Kraków", "Ulica": "ul. Długa", "NrDomu": "12", "NrLokalu": "3", "KodPocztowyZKreska": "30-001", "Kraj": "Polska" } }' \
        "$sep" "$i" "$i" "$i"
      sep=$',\n'
    done
    printf '\n  ],\n  "products": [\n'
    sep=""
    for ((i = 1; i <= BENCH_PRODUCTS; i++)); do
      printf '%s    { "Kod": "TW%05d", "Nazwa": "Towar %d", "Opis": "", "JM": "szt.", "Flaga": 2, "Stawka": 23, "FlagaZak": 2, "StawkaZak": 23, "KopiujOpis": 1, "EdycjaNazwy": 1, "EdycjaOpisu": 1, "TwGGIDNumer": 7 }' \
        "$sep" "$i" "$i"
      sep=$',\n'
    done
    printf '\n  ],\n  "groups": [ { "Kod": "KABLE", "GIDNumer": 7 } ]\n}\n'
  } > "$dir/erp/optima-sim.json"
}
