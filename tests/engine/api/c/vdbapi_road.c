/* The road of one request, as a C program sees the installed call interface: a session opens
   the settlement database, a cursor on Irsz takes the index TELEP, the typed text "Budapes"
   is located (nearest, all items of the key), and the record image and the note are read.
   Usage: vdbapi_road <database directory> <private directory>. Exit code 0 on success. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vidoradb/vdbapi.h>

static int failures = 0;

#define CHECK(cond)                                                        \
  do {                                                                     \
    if (!(cond)) {                                                         \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                          \
    }                                                                      \
  } while (0)

/* ASCII or Latin-1 text as UTF-16, into a buffer of n units. */
static void to_utf16(const char* text, VdbChar* out, size_t n) {
  size_t i = 0;
  for (; text[i] != '\0' && i + 1 < n; ++i) out[i] = (VdbChar)(unsigned char)text[i];
  out[i] = 0;
}

static void report(int16_t session, const char* what, int32_t status) {
  VdbChar status_text[256], engine_text[256];
  int32_t code = 0;
  char narrow[256];
  size_t i;
  VdbGetErrorMsg(status, status_text, 256);
  VdbSessGetLastError(session, &code, engine_text, 256);
  for (i = 0; i < 255 && engine_text[i] != 0; ++i) narrow[i] = engine_text[i] < 128 ? (char)engine_text[i] : '?';
  narrow[i] = '\0';
  fprintf(stderr, "%s: status %d, engine error %d: %s\n", what, (int)status, (int)code, narrow);
}

/* The column named `name`: its description, found by number. */
static int field_spec(int16_t table, const char* name, TVdbFieldSpec* spec) {
  VdbChar wide[64];
  int16_t no;
  to_utf16(name, wide, 64);
  no = VdbTableGetFieldNo(table, wide);
  if (no <= 0) return 0;
  return VdbTableGetFieldSpec(table, no, spec) == 0;
}

int main(int argc, char** argv) {
  VdbChar location[1024], private_dir[256], name[64], empty[1] = {0};
  TVdbNetParams params;
  TVdbFieldSpec telep, note;
  int16_t session, relation, table, record_size, blob_type = -1;
  int32_t found, length, header;
  bool exact = false;
  unsigned char* key;
  unsigned char* record;
  char* text;

  if (argc != 3) {
    fprintf(stderr, "usage: %s <database directory> <private directory>\n", argv[0]);
    return 2;
  }
  CHECK(VdbGetVersion() == VDB_ENGINE_VERSION);
  CHECK(VdbGetTableLevel() == VDB_TABLE_LEVEL);

  to_utf16("", name, 64);
  session = VdbCreateSession(name);
  CHECK(session > 0);
  CHECK(VdbSessGetDefaultNetParams(session, &params) == 0);
  CHECK(params.StationNo >= 1);
  to_utf16(argv[2], private_dir, 256);
  memcpy(params.PrivateDir, private_dir, sizeof params.PrivateDir);
  CHECK(VdbSessSetNetParams(session, &params) == 0);

  to_utf16(argv[1], location, 1024);
  if (VdbSessOpenDb(session, location, empty, empty, 0, 0) != 0) {
    report(session, "opening the database", -58);
    return 1;
  }
  to_utf16("Irsz", name, 64);
  relation = VdbSessOpenTable(session, name, empty, VDB_RIGHTS_WRITE, false, false);
  if (relation <= 0) {
    report(session, "opening Irsz", relation);
    return 1;
  }
  table = VdbTableCreate(relation, name);
  CHECK(table > 0);
  to_utf16("TELEP", name, 64);
  CHECK(VdbTableSetIndex(table, name, false) == 0);
  CHECK(field_spec(table, "TELEP", &telep));
  CHECK(field_spec(table, "EGYEB", &note));
  CHECK(note.FldType == VDB_TYPE_MEMO);

  record_size = VdbTableGetRecordSize(table);
  CHECK(record_size > 0);
  key = calloc((size_t)record_size, 1);
  record = calloc((size_t)record_size, 1);
  if (key == NULL || record == NULL) return 1;

  /* The typed text in the first column of the index: [null byte] length byte, characters. */
  header = telep.InternalSize - telep.Param;
  if (header == 2) key[telep.InternalPosition] = 1;
  key[telep.InternalPosition + header - 1] = 7;
  memcpy(key + telep.InternalPosition + header, "Budapes", 7);

  found = VdbTableLocateRec2(table, name, key, VDB_ALL_INDEX_ITEMS, &exact);
  if (found <= 0) {
    report(session, "locating Budapes", found);
    return 1;
  }
  CHECK(!exact);
  CHECK(VdbTableGetRecNo(table) == found);
  CHECK(VdbTableGetRecord(table, record, record_size) == 0);
  CHECK(record[telep.InternalPosition + header - 1] == 8);
  CHECK(memcmp(record + telep.InternalPosition + header, "Budapest", 8) == 0);

  length = VdbTableInitGetBlob(table, note.No, -1, &blob_type);
  CHECK(length > 0);
  CHECK(blob_type == 0);
  text = calloc((size_t)(length > 0 ? length : 0) + 1, 1);
  if (text == NULL) return 1;
  CHECK(VdbTablePerformGetBlob(table, text, length) == length);
  /* "KSH kód: …" in code page 1250 */
  CHECK(length > 9 && memcmp(text, "KSH k\xf3" "d: ", 9) == 0);
  printf("record %d: Budapest, note \"%s\"\n", (int)found, text);

  CHECK(VdbTableDelete(table) == 0);
  CHECK(VdbTableFirst(table) == VDB_ERR_INVALID_TABLE_HANDLE);
  CHECK(VdbSessCloseDb(session) == 0);
  CHECK(VdbSessDelete(session) == 0);
  free(text);
  free(record);
  free(key);
  return failures == 0 ? 0 : 1;
}
