/* The C interface of tarnintr, for C programs and for any language that
   binds to C. Plain C99; every text is UTF-8.

   Handles are opaque. A field collection is shared by the interpreters made
   on it and lives until the last of them and its own handle are freed. An
   interpreter and the collection it uses belong to one thread at a time.
   Every function reports misuse through its status (a null pointer,
   ill-formed UTF-8, a value out of range) and never lets a failure escape
   as a crash; free functions accept NULL.

     tarn_fields* fields;
     tarn_interpreter* interp;
     tarn_result* r;
     tarn_fields_create(&fields);
     tarn_fields_set_long(fields, "Field1", 41);
     tarn_interpreter_create(fields, &interp);
     tarn_evaluate(interp, "Field1 + 1", &r);   // tarn_result_text(r): "42"
     tarn_result_free(r);
     tarn_interpreter_free(interp);
     tarn_fields_free(fields);
*/
#ifndef TARN_TARN_C_H
#define TARN_TARN_C_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(TARN_BUILDING_LIBRARY)
#define TARN_C_API __declspec(dllexport)
#else
#define TARN_C_API __declspec(dllimport)
#endif
#else
#define TARN_C_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct tarn_fields tarn_fields;
typedef struct tarn_interpreter tarn_interpreter;
typedef struct tarn_result tarn_result;

typedef enum tarn_status {
  TARN_OK = 0,
  TARN_ERR_NULL_ARGUMENT = 1,    /* a pointer argument is NULL */
  TARN_ERR_INVALID_UTF8 = 2,     /* a text is not well-formed UTF-8 */
  TARN_ERR_INVALID_ARGUMENT = 3, /* empty name, date or number out of range, index past the end */
  TARN_ERR_CONVERSION = 4,       /* the value does not convert to the type word */
  TARN_ERR_NOT_FOUND = 5,        /* no field of that name */
  TARN_ERR_NOT_A_NUMBER = 6,     /* the result's value is not a number */
  TARN_ERR_UNSUPPORTED = 7,      /* this build of the library cannot do it */
  TARN_ERR_OUT_OF_MEMORY = 8,
  TARN_ERR_INTERNAL = 9
} tarn_status;

/* The kind of a value, numbered as the platform numbers them. */
typedef enum tarn_kind {
  TARN_KIND_EMPTY = 0,
  TARN_KIND_NULL = 1,
  TARN_KIND_INTEGER = 2,
  TARN_KIND_LONG = 3,
  TARN_KIND_SINGLE = 4,
  TARN_KIND_DOUBLE = 5,
  TARN_KIND_DATE = 7,
  TARN_KIND_STRING = 8,
  TARN_KIND_BOOLEAN = 11
} tarn_kind;

/* "1.1.0.9" */
TARN_C_API const char* tarn_version(void);
/* A short English text for a status, e.g. "invalid UTF-8". */
TARN_C_API const char* tarn_status_text(tarn_status status);

/* Field collections. Names compare without regard to letter case; setting
   a name that is there already replaces that field's type word and value. */
TARN_C_API tarn_status tarn_fields_create(tarn_fields** out);
TARN_C_API void tarn_fields_free(tarn_fields* fields);
/* The value text converted by the type word as the library converts
   ("Integer", "Long", "Single", "Double", "Boolean", "Date"); "String" and
   any other non-empty word keep the text. */
TARN_C_API tarn_status tarn_fields_set(tarn_fields* fields, const char* name, const char* type_word,
                                       const char* value);
TARN_C_API tarn_status tarn_fields_set_long(tarn_fields* fields, const char* name, int32_t value);
TARN_C_API tarn_status tarn_fields_set_double(tarn_fields* fields, const char* name, double value);
/* Any nonzero value is True. */
TARN_C_API tarn_status tarn_fields_set_boolean(tarn_fields* fields, const char* name, int value);
/* Days since 30 December 1899, the time of day as the fraction. */
TARN_C_API tarn_status tarn_fields_set_date_serial(tarn_fields* fields, const char* name,
                                                   double serial);
TARN_C_API tarn_status tarn_fields_set_date(tarn_fields* fields, const char* name, int year,
                                            int month, int day, int hour, int minute, int second);
TARN_C_API tarn_status tarn_fields_set_null(tarn_fields* fields, const char* name);
TARN_C_API tarn_status tarn_fields_remove(tarn_fields* fields, const char* name);
TARN_C_API tarn_status tarn_fields_count(const tarn_fields* fields, size_t* out);

/* Interpreters. */
TARN_C_API tarn_status tarn_interpreter_create(tarn_fields* fields, tarn_interpreter** out);
TARN_C_API void tarn_interpreter_free(tarn_interpreter* interpreter);
/* The interpreter's strict mode (off by default). */
TARN_C_API tarn_status tarn_interpreter_set_strict(tarn_interpreter* interpreter, int strict);

/* Evaluates a text (NUL-terminated, or `length` bytes). A text that cannot
   be evaluated is no failure: its result is the Error field. */
TARN_C_API tarn_status tarn_evaluate(tarn_interpreter* interpreter, const char* text,
                                     tarn_result** out);
TARN_C_API tarn_status tarn_evaluate_n(tarn_interpreter* interpreter, const char* text,
                                       size_t length, tarn_result** out);

/* Results. Texts stay readable until the result is freed. */
TARN_C_API void tarn_result_free(tarn_result* result);
/* 0 for a blank text, which gives no field at all. */
TARN_C_API int tarn_result_has_field(const tarn_result* result);
/* 1 when the text could not be evaluated (the result is the Error field). */
TARN_C_API int tarn_result_is_error(const tarn_result* result);
TARN_C_API tarn_kind tarn_result_kind(const tarn_result* result);
/* The field's type word ("Long", "String", ...); "" without a field. */
TARN_C_API const char* tarn_result_type(const tarn_result* result);
/* The value as the platform writes it ("42", "True", "1/5/2024 1:45:10 PM");
   "" for Empty and Null. */
TARN_C_API const char* tarn_result_text(const tarn_result* result);
/* Numbers give their value, a Boolean -1 or 0, a Date its serial; any other
   kind TARN_ERR_NOT_A_NUMBER. */
TARN_C_API tarn_status tarn_result_number(const tarn_result* result, double* out);
/* The reports made during the call, in order. Any of the out pointers may
   be NULL. */
TARN_C_API size_t tarn_result_report_count(const tarn_result* result);
TARN_C_API tarn_status tarn_result_report(const tarn_result* result, size_t index, int32_t* number,
                                          const char** procedure, const char** message);

#ifdef __cplusplus
}
#endif

#endif /* TARN_TARN_C_H */
