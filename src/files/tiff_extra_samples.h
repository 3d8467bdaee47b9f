#pragma once
#include <string>

// Gives every page of a TIFF file that has samples beyond its colour channels but no
// ExtraSamples tag one that calls them unspecified (the image library writes the tag only
// for alpha, and readers then guess what the extra samples are). False if the file could not
// be updated.
bool tag_extra_samples(const std::string& name);
