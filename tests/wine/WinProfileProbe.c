/* The Windows side of the profile comparison: answers each query of a query list through the
 * platform's own profile API, one answer line per query, in the form ProfileProbe prints.
 * Usage: WinProfileProbe.exe QUERIES OUTPUT, both relative to the current folder or full paths. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { kCapacity = 256, kLine = 1024 };

/* UTF-8 query field to UTF-16. */
static void Widen(const char *text, WCHAR *out, int capacity)
{
    if (!MultiByteToWideChar(CP_UTF8, 0, text, -1, out, capacity))
        out[0] = 0;
}

/* Printable ASCII as it is; backslash and every other UTF-16 unit as \uXXXX. */
static void PrintEscaped(FILE *out, const WCHAR *text, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        if (text[i] >= 0x20 && text[i] < 0x7F && text[i] != '\\')
            fputc((int)text[i], out);
        else
            fprintf(out, "\\u%04x", (unsigned)text[i]);
    }
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: WinProfileProbe QUERIES OUTPUT\n");
        return 2;
    }
    FILE *in = fopen(argv[1], "rb");
    FILE *out = fopen(argv[2], "wb");
    if (!in || !out) {
        fprintf(stderr, "WinProfileProbe: cannot open %s or %s\n", argv[1], argv[2]);
        return 2;
    }
    char line[kLine];
    while (fgets(line, sizeof line, in)) {
        line[strcspn(line, "\r\n")] = 0;
        /* kind TAB file TAB section TAB key [TAB default] */
        char *fields[5] = {0};
        int nFields = 0;
        for (char *p = line; p && nFields < 5; ++nFields) {
            fields[nFields] = p;
            p = strchr(p, '\t');
            if (p)
                *p++ = 0;
        }
        if (nFields < 4)
            continue;
        WCHAR file[MAX_PATH], full[MAX_PATH], section[kLine], key[kLine];
        Widen(fields[1], file, MAX_PATH);
        if (!GetFullPathNameW(file, MAX_PATH, full, NULL))
            return 2;
        Widen(fields[2], section, kLine);
        Widen(fields[3], key, kLine);
        fprintf(out, "%s\t%s\t%s\t%s\t", fields[0], fields[1], fields[2], fields[3]);
        if (fields[0][0] == 'I') {
            const int nDefault = nFields > 4 ? (int)strtol(fields[4], NULL, 0) : 0;
            fprintf(out, "%lu\n", (unsigned long)GetPrivateProfileIntW(section, key, nDefault, full));
        } else {
            WCHAR value[kCapacity];
            const DWORD n = GetPrivateProfileStringW(section, key, L"", value, kCapacity, full);
            PrintEscaped(out, value, n);
            fputc('\n', out);
        }
    }
    fclose(in);
    return fclose(out) == 0 ? 0 : 2;
}
