// The module entry: the interpreter calls PyInit__torvane at import.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

static PyModuleDef torvane_module = {PyModuleDef_HEAD_INIT, "_torvane", "", 0,
                                     nullptr, nullptr, nullptr, nullptr, nullptr};

PyMODINIT_FUNC PyInit__torvane() { return PyModule_Create(&torvane_module); }
