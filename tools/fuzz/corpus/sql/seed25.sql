-- comment
SELECT a /* block
 comment */ FROM t // end
WHERE x = 24.12.2013_18:30:00 OR y = 18:30 OR z = 1E3