# Resources compiled into the test program, to check ovelta_add_resources end to end.
ovelta_add_resources(${target}
  BITMAP TINY ${test_dir}/data/tiny.bmp
  RCDATA "#42" ${test_dir}/data/note.txt)
