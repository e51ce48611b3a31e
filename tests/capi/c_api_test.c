/* The C interface from a C99 program: fields of every setter, evaluations
   read back as kind, type word, text, number and reports, and every misuse
   answered with its status. Built in the tree and against an installed
   package; any failure exits nonzero. Run it under AddressSanitizer to see
   that every handle and result is freed. */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "tarn/tarn_c.h"

static int failures = 0;

#define CHECK(cond)                                                            \
  do {                                                                         \
    if (!(cond)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                              \
    }                                                                          \
  } while (0)

#define CHECK_STATUS(call, want)                                                          \
  do {                                                                                    \
    tarn_status got_ = (call);                                                            \
    if (got_ != (want)) {                                                                 \
      fprintf(stderr, "%s:%d: %s gave %d (%s), expected %d\n", __FILE__, __LINE__, #call, \
              (int)got_, tarn_status_text(got_), (int)(want));                            \
      ++failures;                                                                         \
    }                                                                                     \
  } while (0)

/* A result as one text: "[field ][error ]KIND/TYPE "TEXT"[ = NUMBER][ report
   N in PROCEDURE: MESSAGE]" (the first report only). */
static void describe(const tarn_result* r, char* out, size_t size) {
  static const char* const kinds[] = {"Empty", "Null", "Integer", "Long", "Single", "Double",
                                      "?",     "Date", "String",  "?",    "?",      "Boolean"};
  double number = 0;
  int32_t n = 0;
  const char *procedure = NULL, *message = NULL;
  size_t used =
      (size_t)snprintf(out, size, "%s%s%s/%s \"%s\"", tarn_result_has_field(r) ? "field " : "",
                       tarn_result_is_error(r) ? "error " : "", kinds[tarn_result_kind(r)],
                       tarn_result_type(r), tarn_result_text(r));
  if (tarn_result_number(r, &number) == TARN_OK)
    used += (size_t)snprintf(out + used, size - used, " = %.15g", number);
  if (tarn_result_report_count(r) > 0 &&
      tarn_result_report(r, 0, &n, &procedure, &message) == TARN_OK)
    snprintf(out + used, size - used, " report %d in %s: %s", (int)n, procedure, message);
}

static const char* const cases[][2] = {
    {"Field1 + 1", "field Long/Long \"42\" = 42"},
    {"Count + 1", "field Long/Long \"8\" = 8"},
    {"Ratio * 2", "field Double/Double \"5\" = 5"},
    {"Flag", "field Boolean/Boolean \"True\" = -1"},
    {"Field1 > 50", "field Boolean/Boolean \"False\" = 0"},
    {"AdmitDate", "field Date/Date \"1/5/2024 1:45:10 PM\" = 45296.5730324074"},
    {"Format AdmitDate, \"yyyymmdd hh:nn:ss\"", "field String/String \"20240105 13:45:10\""},
    {"Format Old, \"yyyy-mm-dd\"", "field String/String \"1850-07-04\""},
    {"LastName & \"!\"", "field String/String \"Smith!\""},
    {"Accent", "field String/String \"Z\xc3\xbcrich \xe2\x82\xac\""},
    {"Nothing", "field Null/Null \"\""},
    {"Room", "field String/Ward \"12B\""},
    {"NoSuchField + 1", "field error Boolean/Boolean \"False\" = 0"},
    {"Error", "field Long/Long \"5\" = 5"},
    {"\"abc\" * 2", "Empty/ \"\" report 13 in EvaluateExpression: Error: 13 - Type mismatch"},
    {"   ", "Empty/ \"\""},
};

/* Evaluates TEXT; the result must read as EXPECTED (see describe). */
static void expect(tarn_interpreter* interp, const char* text, const char* expected) {
  char got[512];
  tarn_result* r = NULL;
  CHECK_STATUS(tarn_evaluate(interp, text, &r), TARN_OK);
  describe(r, got, sizeof got);
  if (strcmp(got, expected) != 0) {
    fprintf(stderr, "'%s':\n  gave     %s\n  expected %s\n", text, got, expected);
    ++failures;
  }
  tarn_result_free(r);
}

static void misuse(tarn_fields* fields, tarn_interpreter* interp) {
  tarn_result* r = (tarn_result*)&r; /* not NULL: a failure must reset it */
  tarn_fields* no_fields = (tarn_fields*)&r;
  tarn_interpreter* no_interp = (tarn_interpreter*)&r;
  size_t count = 0;
  char text[64];
  CHECK_STATUS(tarn_fields_create(NULL), TARN_ERR_NULL_ARGUMENT);
  CHECK_STATUS(tarn_interpreter_create(NULL, &no_interp), TARN_ERR_NULL_ARGUMENT);
  CHECK(no_interp == NULL);
  CHECK_STATUS(tarn_interpreter_create(fields, NULL), TARN_ERR_NULL_ARGUMENT);
  CHECK_STATUS(tarn_fields_set_long(NULL, "A", 1), TARN_ERR_NULL_ARGUMENT);
  CHECK_STATUS(tarn_fields_set_long(fields, NULL, 1), TARN_ERR_NULL_ARGUMENT);
  CHECK_STATUS(tarn_fields_set(fields, "A", NULL, "1"), TARN_ERR_NULL_ARGUMENT);
  CHECK_STATUS(tarn_fields_set(fields, "A", "Long", NULL), TARN_ERR_NULL_ARGUMENT);
  CHECK_STATUS(tarn_fields_set_long(fields, "", 1), TARN_ERR_INVALID_ARGUMENT);
  CHECK_STATUS(tarn_fields_set_long(fields, "\xff", 1), TARN_ERR_INVALID_UTF8);
  CHECK_STATUS(tarn_fields_set(fields, "A", "String", "\xc3("), TARN_ERR_INVALID_UTF8);
  CHECK_STATUS(tarn_fields_set(fields, "A", "String", "\xed\xa0\x80"), TARN_ERR_INVALID_UTF8);
  CHECK_STATUS(tarn_fields_set(fields, "A", "String", "\xc0\xaf"), TARN_ERR_INVALID_UTF8);
  CHECK_STATUS(tarn_fields_set(fields, "A", "", "1"), TARN_ERR_INVALID_ARGUMENT);
  CHECK_STATUS(tarn_fields_set(fields, "A", "Long", "abc"), TARN_ERR_CONVERSION);
  CHECK_STATUS(tarn_fields_set(fields, "A", "Integer", "40000"), TARN_ERR_CONVERSION);
  CHECK_STATUS(tarn_fields_set_double(fields, "A", NAN), TARN_ERR_INVALID_ARGUMENT);
  CHECK_STATUS(tarn_fields_set_double(fields, "A", INFINITY), TARN_ERR_INVALID_ARGUMENT);
  CHECK_STATUS(tarn_fields_set_date(fields, "A", 2023, 2, 29, 0, 0, 0), TARN_ERR_INVALID_ARGUMENT);
  CHECK_STATUS(tarn_fields_set_date(fields, "A", 99, 12, 31, 0, 0, 0), TARN_ERR_INVALID_ARGUMENT);
  CHECK_STATUS(tarn_fields_set_date(fields, "A", 2024, 1, 1, 24, 0, 0), TARN_ERR_INVALID_ARGUMENT);
  CHECK_STATUS(tarn_fields_set_date_serial(fields, "A", 3e6), TARN_ERR_INVALID_ARGUMENT);
  CHECK_STATUS(tarn_fields_remove(fields, "NotThere"), TARN_ERR_NOT_FOUND);
  CHECK_STATUS(tarn_fields_count(NULL, &count), TARN_ERR_NULL_ARGUMENT);
  CHECK_STATUS(tarn_fields_count(fields, NULL), TARN_ERR_NULL_ARGUMENT);

  CHECK_STATUS(tarn_evaluate(NULL, "1", &r), TARN_ERR_NULL_ARGUMENT);
  CHECK(r == NULL);
  r = (tarn_result*)&r;
  CHECK_STATUS(tarn_evaluate(interp, NULL, &r), TARN_ERR_NULL_ARGUMENT);
  CHECK(r == NULL);
  CHECK_STATUS(tarn_evaluate(interp, "1", NULL), TARN_ERR_NULL_ARGUMENT);
  CHECK_STATUS(tarn_evaluate(interp, "\"\xff\"", &r), TARN_ERR_INVALID_UTF8);
  CHECK(r == NULL);
  CHECK_STATUS(tarn_evaluate_n(interp, NULL, 0, &r), TARN_OK);
  CHECK(r != NULL && !tarn_result_has_field(r));
  tarn_result_free(r);
  /* A text with a NUL inside: the length decides, not the NUL. */
  CHECK_STATUS(tarn_evaluate_n(interp, "2 * 3\0 + 1", 10, &r), TARN_OK);
  tarn_result_free(r);
  CHECK_STATUS(tarn_evaluate_n(interp, "2 * 3 + 1", 5, &r), TARN_OK);
  CHECK(strcmp(tarn_result_text(r), "6") == 0);
  CHECK_STATUS(tarn_result_report(r, 0, NULL, NULL, NULL), TARN_ERR_INVALID_ARGUMENT);
  CHECK_STATUS(tarn_result_report(NULL, 0, NULL, NULL, NULL), TARN_ERR_NULL_ARGUMENT);
  CHECK_STATUS(tarn_result_number(r, NULL), TARN_ERR_NULL_ARGUMENT);
  tarn_result_free(r);

  CHECK_STATUS(tarn_interpreter_set_strict(NULL, 0), TARN_ERR_NULL_ARGUMENT);
  CHECK_STATUS(tarn_interpreter_set_strict(interp, 0), TARN_OK);
  /* Strict: a function whose arguments run out is the Error field with a report. */
  CHECK_STATUS(tarn_fields_set(fields, "F1", "String", "x"), TARN_OK);
  CHECK_STATUS(tarn_interpreter_set_strict(interp, 1), TARN_OK);
  expect(interp, "Format F1",
         "field error Boolean/Boolean \"False\" = 0 report 5 in GetFormatArguments: Error: 5 - "
         "Invalid procedure call or argument: Format has no format argument: the end of the text "
         "was read in its place");
  CHECK_STATUS(tarn_interpreter_set_strict(interp, 0), TARN_OK);
  CHECK_STATUS(tarn_fields_remove(fields, "F1"), TARN_OK);

  /* Readers and free functions take NULL. */
  describe(NULL, text, sizeof text);
  CHECK(strcmp(text, "Empty/ \"\"") == 0);
  tarn_result_free(NULL);
  tarn_interpreter_free(NULL);
  tarn_fields_free(NULL);
  CHECK(strcmp(tarn_status_text(TARN_ERR_INVALID_UTF8), "invalid UTF-8") == 0);
  (void)no_fields;
}

int main(void) {
  tarn_fields* fields = NULL;
  tarn_interpreter* interp = NULL;
  tarn_interpreter* second = NULL;
  tarn_result* r = NULL;
  size_t count = 0, i;

  CHECK_STATUS(tarn_fields_create(&fields), TARN_OK);
  CHECK_STATUS(tarn_fields_set_long(fields, "Field1", 41), TARN_OK);
  CHECK_STATUS(tarn_fields_set(fields, "Count", "Integer", "7"), TARN_OK);
  CHECK_STATUS(tarn_fields_set_double(fields, "Ratio", 2.5), TARN_OK);
  CHECK_STATUS(tarn_fields_set_boolean(fields, "Flag", 5), TARN_OK);
  CHECK_STATUS(tarn_fields_set_date(fields, "AdmitDate", 2024, 1, 5, 13, 45, 10), TARN_OK);
  CHECK_STATUS(tarn_fields_set(fields, "Old", "Date", "7/4/1850"), TARN_OK);
  CHECK_STATUS(tarn_fields_set(fields, "LastName", "String", "Smith"), TARN_OK);
  CHECK_STATUS(tarn_fields_set(fields, "Accent", "String", "Z\xc3\xbcrich \xe2\x82\xac"), TARN_OK);
  CHECK_STATUS(tarn_fields_set_null(fields, "Nothing"), TARN_OK);
  CHECK_STATUS(tarn_fields_set(fields, "Room", "Ward", "12B"), TARN_OK);
  CHECK_STATUS(tarn_fields_set_long(fields, "Error", 5), TARN_OK);
  CHECK_STATUS(tarn_fields_count(fields, &count), TARN_OK);
  CHECK(count == 11);

  CHECK_STATUS(tarn_interpreter_create(fields, &interp), TARN_OK);
  for (i = 0; i < sizeof cases / sizeof cases[0]; ++i) expect(interp, cases[i][0], cases[i][1]);
  misuse(fields, interp);

  /* Fields change between evaluations; a name in another case is the same
     field, and the collection holds no temporary field afterwards. */
  CHECK_STATUS(tarn_fields_set_date_serial(fields, "field1", 2.25), TARN_OK);
  expect(interp, "Format Field1, \"yyyy-mm-dd hh:nn\"", "field String/String \"1900-01-01 06:00\"");
  CHECK_STATUS(tarn_fields_remove(fields, "FIELD1"), TARN_OK);
  expect(interp, "Field1 + 1", "field error Boolean/Boolean \"False\" = 0");
  CHECK_STATUS(tarn_fields_count(fields, &count), TARN_OK);
  CHECK(count == 10);

  /* The collection outlives its handle while an interpreter uses it. */
  CHECK_STATUS(tarn_interpreter_create(fields, &second), TARN_OK);
  tarn_fields_free(fields);
  CHECK_STATUS(tarn_evaluate(second, "Ratio * 4", &r), TARN_OK);
  CHECK(r && strcmp(tarn_result_text(r), "10") == 0);
  tarn_interpreter_free(second);
  tarn_interpreter_free(interp);
  /* And a result outlives its interpreter. */
  CHECK(r && strcmp(tarn_result_type(r), "Double") == 0);
  tarn_result_free(r);

  if (failures) {
    fprintf(stderr, "%d checks failed\n", failures);
    return 1;
  }
  printf("C interface: all checks passed\n");
  return 0;
}
