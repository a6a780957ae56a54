// Sine, cosine and tangent computed by the program itself, so that a picture is the same to the
// bit on every system: C libraries may differ in the last bit of these, and a different last
// bit moves a vertex across a pixel's edge now and then. Pure functions, no state.
#pragma once

// Computed in double precision and rounded once to float, so they agree with correctly
// rounded library functions except in cases far rarer than one in a million. Arguments far
// beyond a few thousand radians lose accuracy (never determinism); the program's angles are
// small.
float sine(float x);
float cosine(float x);
float tangent(float x);
// Double precision, within about one unit in the last place.
double sine(double x);
double cosine(double x);
