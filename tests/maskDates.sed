# Stamped dates in a dump of a written frame, as <date>: sed -f maskDates.sed
s/^\(    ZQ\/dateWritten\(Int\)\? [a-z]*\) .*/\1 <date>/
