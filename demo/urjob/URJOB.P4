100040002499 KESTREL                                                           4
100060004010 KESTREL                                                           4
