#ifndef XLSXDOCUMENT_H
#define XLSXDOCUMENT_H
// PLACEHOLDER: to be written.
#endif
