#pragma once

// Shows the exception being handled through the exception hook (or on stderr),
// for the port's files that catch what a handler raised. Call inside a catch.
void reportCurrentException();
