// Stand-in for the CE 5.0 SDK's <math.h>: declarations only. Visual C++ 2008
// has the C90 set (no C99 round, trunc, isnan, lround...) plus _isnan,
// _finite.
#pragma once

extern "C" {
double sin(double x);
double cos(double x);
double tan(double x);
double asin(double x);
double acos(double x);
double atan(double x);
double atan2(double y, double x);
double sinh(double x);
double cosh(double x);
double tanh(double x);
double exp(double x);
double log(double x);
double log10(double x);
double pow(double x, double y);
double sqrt(double x);
double ceil(double x);
double floor(double x);
double fabs(double x);
double fmod(double x, double y);
double frexp(double x, int* exponent);
double ldexp(double x, int exponent);
double modf(double x, double* integer);
int _isnan(double x);
int _finite(double x);
}
