     * HELLO WORLD IN AUTOCODER: THE SAME PROGRAM AS THE SPS SAMPLE, WHOSE
     * CONSTANT IS TWELVE CHARACTERS, THE LAST ONE A BLANK
               ORG  500                        START AT 500
     START     CS   332                        CLEAR THE PRINT AREA
               CS                              (201-332)
               MCW  CONST,213                  HELLO WORLD IN 202-213
               W                               PRINT IT
               H    1
     CONST     DCW  @HELLO WORLD @
               END  START
