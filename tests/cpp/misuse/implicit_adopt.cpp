// expect: conversion from 'IntensityCal ?\*'
// A raw handle becomes owned only through adopt_owned.
#include "calmgr.hpp"

void use(IntensityCal* handle) {
#ifdef CALMGR_MISUSE
    calmgr::IntensityCalibration owned = handle;
#else
    auto owned = calmgr::IntensityCalibration::adopt_owned(handle);
#endif
    owned.set_name("adopted");
}
